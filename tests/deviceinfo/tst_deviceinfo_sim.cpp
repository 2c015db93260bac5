// The Device Information page filled from the meter simulator on a pseudo-terminal mapped as
// COM1.
#include "DeviceInfoRig.h"
#include "support/SimMeter.h"

#include <QDir>
#include <QLabel>
#include <QtTest>

namespace {

constexpr int Wait = 10000;

using TRig = TDeviceInfoRig;

} // namespace

class TestDeviceInfoSim : public QObject {
    Q_OBJECT

private slots:
    void filledFromTheMeter();
};

void TestDeviceInfoSim::filledFromTheMeter() {
    if (!QFileInfo::exists(SimBinary()))
        QFAIL("kt580-sim is not built");
    QVERIFY(qEnvironmentVariable("XDG_CONFIG_HOME").contains("test-config"));
    TSimMeter sim({"--version-text", "3.85", "--hardware-version", "2.10", "--release-date",
                   "160121", "--serial", "<b>x</b>", "--ao-type", "2"});
    QVERIFY(sim.Started());
    TRig rig;
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    QVERIFY(ConnectLink(rig.Link));
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelAOType"), QString("Voltage"), Wait);
    QCOMPARE(rig.Text("LabelDevType"), QString("ED80 (KT580)"));
    QCOMPARE(rig.Text("LabelHardVersion"), QString("2.10"));
    QCOMPARE(rig.Text("LabelSoftVersion"), QString("3.85"));
    QCOMPARE(rig.Text("LabelReleaseDate"), QString("2016-01-21"));
    QCOMPARE(rig.Text("LabelSerialNo"), QString("<b>x</b>"));
    QCOMPARE(rig.Find("LabelSerialNo")->textFormat(), Qt::PlainText);
    // The page's four reads are all there is: afterwards the link sends nothing.
    QTRY_VERIFY_WITH_TIMEOUT(rig.Link.PendingTexts().empty(), Wait);

    // Every text whole and clear of its neighbours.
    const QList<QLabel*> labels = rig.Page.findChildren<QLabel*>();
    for (int i = 0; i < labels.size(); ++i) {
        QVERIFY(labels[i]->width() >=
                labels[i]->fontMetrics().horizontalAdvance(labels[i]->text()));
        QVERIFY(labels[i]->parentWidget()->contentsRect().contains(labels[i]->geometry()));
        for (int j = i + 1; j < labels.size(); ++j)
            QVERIFY(!labels[i]->geometry().intersects(labels[j]->geometry()));
    }
    const QString shots = qEnvironmentVariable("KT_SHOT_DIR");
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        QVERIFY(rig.Page.grab().save(shots + "/deviceinfo.png"));
    }
}

QTEST_MAIN(TestDeviceInfoSim)
#include "tst_deviceinfo_sim.moc"
