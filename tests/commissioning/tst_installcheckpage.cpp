// The Installation Check page's verdict colours against the table's own background, in light
// and dark palettes: every verdict shown must read with a contrast of at least 4.5:1.
#include "commissioning/MeterMemory.h"
#include "commissioning/frmInstallCheck.h"

#include "CommissioningTestKit.h"

#include <QApplication>
#include <QPalette>
#include <QtTest>

using namespace commtest;

class TestInstallCheckPage : public QObject {
    Q_OBJECT

private slots:
    void verdictContrast_data();
    void verdictContrast();
};

void TestInstallCheckPage::verdictContrast_data() {
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("base");
    QTest::newRow("white") << QColor("#f0f0f0") << QColor("#ffffff");
    QTest::newRow("light grey") << QColor("#efefef") << QColor("#e0e0e0");
    QTest::newRow("dark") << QColor("#353535") << QColor("#2a2a2a");
    QTest::newRow("dark grey") << QColor("#3c3f41") << QColor("#45494a");
    QTest::newRow("black") << QColor("#000000") << QColor("#000000");
    QTest::newRow("mid grey") << QColor("#777777") << QColor("#767676");
}

void TestInstallCheckPage::verdictContrast() {
    QFETCH(QColor, window);
    QFETCH(QColor, base);
    TMeterMemory memory([] { return std::int64_t(0); });
    // 3LN, PT 400/400, CT 50/5; phase B without voltage: a fault, a warning, good ones and the
    // rule that cannot judge.
    memory.RegistersRead(0x1100, Regs({0, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1400,
                         Regs({2300, 0,   2300, 2300, 2300, 3984, 3000, 3000, 3000, 1533, 3100,
                               3000, 500, 400,  2000, 5000, 950,  'L',  0,    0,    100}));
    TFormInstallCheck page(memory);
    QPalette palette = page.palette();
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::Base, base);
    page.setPalette(palette);
    QSet<TVerdict> seen;
    for (int row = 0; row < static_cast<int>(page.Results().size()); ++row) {
        const QColor fg = page.VerdictForeground(row);
        const QColor bg = page.TableBackground();
        QCOMPARE(bg, base);
        const double ratio = ContrastRatio(TRgb{fg.red(), fg.green(), fg.blue()},
                                           TRgb{bg.red(), bg.green(), bg.blue()});
        const TCheckResult& r = page.Results()[static_cast<std::size_t>(row)];
        seen.insert(r.Verdict);
        QVERIFY2(ratio >= 4.5,
                 qPrintable(QString("%1 (%2) %3 on %4: %5:1")
                                .arg(r.Check, VerdictText(r.Verdict), fg.name(), bg.name())
                                .arg(ratio, 0, 'f', 2)));
    }
    QCOMPARE(seen.size(), 4);
}

QTEST_MAIN(TestInstallCheckPage)
#include "tst_installcheckpage.moc"
