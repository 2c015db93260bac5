// The Device Information page: its layout, and its texts as the link writes them from register
// values (against the meter simulator: tst_deviceinfo_sim).
#include "DeviceInfoRig.h"
#include "support/MeterRecords.h"

#include <QFrame>
#include <QLabel>
#include <QtTest>

namespace {

using TRig = TDeviceInfoRig;

} // namespace

class TestDeviceInfo : public QObject {
    Q_OBJECT

private slots:
    void page();
    void rows_data();
    void rows();
    void identityFromRegisters_data();
    void identityFromRegisters();
    void serialNumberAndAOType_data();
    void serialNumberAndAOType();
};

void TestDeviceInfo::page() {
    TRig rig;
    QCOMPARE(rig.Page.windowTitle(), QString("Device Information"));
    QCOMPARE(rig.Page.size(), QSize(580, 381));
    QVERIFY(rig.Page.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(rig.Page.font().pixelSize(), 11);
    const QList<QFrame*> panels = rig.Page.findChildren<QFrame*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(panels.size(), 1);
    QCOMPARE(panels[0]->geometry(), QRect(8, 8, 565, 209));
    QCOMPARE(panels[0]->frameShape(), QFrame::Panel);
    QCOMPARE(panels[0]->frameShadow(), QFrame::Sunken);
    const QList<QLabel*> labels = rig.Page.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 12);
    for (const QLabel* l : labels)
        QCOMPARE(l->textFormat(), Qt::PlainText);
}

void TestDeviceInfo::rows_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("y");
    QTest::newRow("Device Type") << "Device Type"
                                 << "LabelDevType" << 24;
    QTest::newRow("Hardware Version") << "Hardware Version"
                                      << "LabelHardVersion" << 48;
    QTest::newRow("Software Version") << "Software Version"
                                      << "LabelSoftVersion" << 72;
    QTest::newRow("Release Date") << "Release Date"
                                  << "LabelReleaseDate" << 96;
    QTest::newRow("Serial Number") << "Serial Number"
                                   << "LabelSerialNo" << 120;
    QTest::newRow("AO Type") << "AO Type"
                             << "LabelAOType" << 168;
}

void TestDeviceInfo::rows() {
    QFETCH(QString, caption);
    QFETCH(QString, value);
    QFETCH(int, y);
    TRig rig;
    QLabel* c = nullptr;
    for (QLabel* l : rig.Page.findChildren<QLabel*>())
        if (l->text() == caption)
            c = l;
    QVERIFY(c);
    QCOMPARE(c->pos(), QPoint(24, y));
    QVERIFY(c->x() + c->width() < 144);
    QVERIFY(c->width() >= c->fontMetrics().horizontalAdvance(caption));
    QLabel* v = rig.Find(value);
    QVERIFY(v);
    QCOMPARE(v->parentWidget(), c->parentWidget());
    QCOMPARE(v->pos(), QPoint(144, y));
    QCOMPARE(v->text(), QString());
    QCOMPARE(v->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

void TestDeviceInfo::identityFromRegisters_data() {
    QTest::addColumn<QByteArray>("identity");
    QTest::addColumn<QString>("devType");
    QTest::addColumn<QString>("hardVersion");
    QTest::addColumn<QString>("softVersion");
    QTest::addColumn<QString>("releaseDate");
    QTest::newRow("ED80") << QByteArray("ED801.003.20190815") << "ED80 (KT580)"
                          << "1.00"
                          << "3.20"
                          << "2019-08-15";
    QTest::newRow("EB model") << QByteArray("EB812.104.00160121") << "EB81 (KT581)"
                              << "2.10"
                              << "4.00"
                              << "2016-01-21";
    QTest::newRow("unknown code") << QByteArray("XY121.003.05160121") << "XY12 (Unknown)"
                                  << "1.00"
                                  << "3.05"
                                  << "2016-01-21";
    // Control characters are cleaned away; the model still takes characters 3 and 4 as sent.
    QTest::newRow("code with 0 and 127") << QByteArray("ED\x00\x7f"
                                                       "1.0\x01"
                                                       "3.2\x00"
                                                       "160121",
                                                       18)
                                         << QString("ED (KT5") + QChar(0) + QChar(0x7f) + ")"
                                         << "1.0"
                                         << "3.2"
                                         << "2016-01-21";
    QTest::newRow("markup") << QByteArray("<b>x1.003.20190815") << "<b>x (Unknown)"
                            << "1.00"
                            << "3.20"
                            << "2019-08-15";
}

void TestDeviceInfo::identityFromRegisters() {
    QFETCH(QByteArray, identity);
    QFETCH(QString, devType);
    QFETCH(QString, hardVersion);
    QFETCH(QString, softVersion);
    QFETCH(QString, releaseDate);
    TRig rig;
    rig.Link.ModbusF03Response(Master(rig.Link), 1, 0xF000, TextRegisters(identity, 9));
    QCOMPARE(rig.Text("LabelDevType"), devType);
    QCOMPARE(rig.Text("LabelHardVersion"), hardVersion);
    QCOMPARE(rig.Text("LabelSoftVersion"), softVersion);
    QCOMPARE(rig.Text("LabelReleaseDate"), releaseDate);
    QCOMPARE(rig.Link.SoftwareVersion(), softVersion);
    // Shown whole, not cut at the label's first width.
    QVERIFY(rig.Find("LabelDevType")->width() >=
            rig.Find("LabelDevType")->fontMetrics().horizontalAdvance(devType));
}

void TestDeviceInfo::serialNumberAndAOType_data() {
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<int>("aoType");
    QTest::addColumn<QString>("serialShown");
    QTest::addColumn<QString>("aoShown");
    QTest::newRow("AB12, current") << QByteArray("AB12") << 1 << "AB12"
                                   << "Current";
    QTest::newRow("32 characters, voltage")
        << QByteArray("KT580-0123456789ABCDEFGHIJKLMNOP") << 2 << "KT580-0123456789ABCDEFGHIJKLMNOP"
        << "Voltage";
    QTest::newRow("markup, type 3") << QByteArray("<b>x</b>") << 3 << "<b>x</b>"
                                    << "--";
    QTest::newRow("empty, type 0") << QByteArray() << 0 << ""
                                   << "--";
}

void TestDeviceInfo::serialNumberAndAOType() {
    QFETCH(QByteArray, serial);
    QFETCH(int, aoType);
    QFETCH(QString, serialShown);
    QFETCH(QString, aoShown);
    TRig rig;
    rig.Link.ModbusF03Response(Master(rig.Link), 1, 0xF040, TextRegisters(serial, 16));
    rig.Link.ModbusF03Response(Master(rig.Link), 1, 0xF106,
                               std::vector<std::uint16_t>{std::uint16_t(aoType)});
    QCOMPARE(rig.Text("LabelSerialNo"), serialShown);
    QCOMPARE(rig.Text("LabelAOType"), aoShown);
}

QTEST_MAIN(TestDeviceInfo)
#include "tst_deviceinfo.moc"
