// The About box: version label, web link, logo and layout.
#include "shell/ShellIcons.h"
#include "shell/frmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <map>

using TRecord = std::map<QString, QString>;
Q_DECLARE_METATYPE(TRecord)

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void versionLabel_data();
    void versionLabel();
    void programRecord();
    void linkOpensAddress();
    void layout();
    void logoScales_data();
    void logoScales();
};

void TestAbout::versionLabel_data() {
    QTest::addColumn<bool>("hasRecord");
    QTest::addColumn<TRecord>("record");
    QTest::addColumn<QString>("label");
    QTest::newRow("full record") << true
                                 << TRecord{{"FileVersion", "2.2.0.0"}, {"Comments", "20160121"}}
                                 << "Version 2.2.0 (20160121)";
    QTest::newRow("version without a full stop")
        << true << TRecord{{"FileVersion", "3"}, {"Comments", "20160121"}} << "Version  (20160121)";
    QTest::newRow("version without a full stop, no comment")
        << true << TRecord{{"FileVersion", "3"}} << "Version ";
    QTest::newRow("only the comment") << true << TRecord{{"Comments", "x"}} << "Version (x)";
    QTest::newRow("only the version") << true << TRecord{{"FileVersion", "1.0"}} << "Version 1";
    QTest::newRow("trailing full stop")
        << true << TRecord{{"FileVersion", "4.1."}} << "Version 4.1";
    QTest::newRow("record without either value") << true << TRecord{} << "Version";
    QTest::newRow("no record at all") << false << TRecord{} << "";
}

void TestAbout::versionLabel() {
    QFETCH(bool, hasRecord);
    QFETCH(TRecord, record);
    QFETCH(QString, label);
    TVersionLookup lookup;
    if (hasRecord) {
        lookup = [record](const QString& name) -> std::optional<QString> {
            const auto it = record.find(name);
            if (it == record.end())
                return std::nullopt;
            return it->second;
        };
    }
    TFormAbout about(lookup);
    QCOMPARE(about.LabelVersion->text(), label);
    QCOMPARE(about.LabelVersion->textFormat(), Qt::PlainText);
}

void TestAbout::programRecord() {
    TFormAbout about;
    QCOMPARE(about.LabelVersion->text(), QString("Version 2.2.0 (20160121)"));
    QCOMPARE(ProgramVersionValue("FileVersion"), std::optional<QString>("2.2.0.0"));
    QCOMPARE(ProgramVersionValue("ProductName"), std::optional<QString>());
    // Reports and recordings name the program's version as the About box does.
    QCOMPARE(QStringLiteral("Version ") + ProgramVersionText(), about.LabelVersion->text());
}

void TestAbout::linkOpensAddress() {
    TFormAbout about;
    QStringList opened;
    about.OpenAddress = [&](const QString& a) { opened << a; };
    about.show();
    QTest::mouseClick(about.LabelWWW, Qt::LeftButton);
    QCOMPARE(opened, QStringList{"https://www.veltrana.example/"});
    QTest::mouseClick(about.LabelWWW, Qt::RightButton);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(about.LabelWWW->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(about.LabelWWW->font().underline());
    QCOMPARE(about.LabelWWW->font().pixelSize(), 13);
    QCOMPARE(about.LabelWWW->palette().color(QPalette::WindowText), QColor(Qt::blue));
    about.Button1->click();
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void TestAbout::layout() {
    TFormAbout about;
    QCOMPARE(about.windowTitle(), QString("About"));
    QCOMPARE(about.size(), QSize(303, 220));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.Image1->geometry(), QRect(24, 24, 255, 65));
    QCOMPARE(about.LabelVersion->pos(), QPoint(24, 112));
    QCOMPARE(about.LabelWWW->pos(), QPoint(24, 144));
    QCOMPARE(about.Label1->pos(), QPoint(24, 174));
    QCOMPARE(about.Button1->geometry(), QRect(232, 149, 49, 28));
    QVERIFY(about.Button1->isDefault());
    QCOMPARE(about.Label1->text().count('\n'), 1);
    // Nothing runs into the button or out of the box, and no label is cut.
    for (QLabel* label : {about.LabelVersion, about.LabelWWW, about.Label1}) {
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        QVERIFY2(!label->geometry().intersects(about.Button1->geometry()),
                 qPrintable(label->text()));
        QVERIFY2(QRect(QPoint(0, 0), about.size()).contains(label->geometry()),
                 qPrintable(label->text()));
    }
}

void TestAbout::logoScales_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1x") << 1.0;
    QTest::newRow("2x") << 2.0;
}

void TestAbout::logoScales() {
    QFETCH(qreal, ratio);
    const QPixmap logo = LogoPixmap(ratio);
    QCOMPARE(logo.size(), QSize(qRound(255 * ratio), qRound(65 * ratio)));
    QCOMPARE(logo.deviceIndependentSize(), QSizeF(255, 65));
    // Drawn, not blank.
    const QImage image = logo.toImage();
    QVERIFY(image.pixelColor(image.width() / 8, image.height() / 2).alpha() > 0);
    // The action images render at the asked pixel size for each scale.
    const QPixmap icon = ActionIcon(TActionImage::Connect).pixmap(QSize(16, 16), ratio);
    QCOMPARE(icon.size(), QSize(qRound(16 * ratio), qRound(16 * ratio)));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
