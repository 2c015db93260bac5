// The Installation Check page's verdict colours against the table's background and the window's
// (behind the overall verdict), in light and dark palettes: every verdict shown must read with a
// contrast of at least 4.5:1 on both; and the table takes the room of a larger window.
#include "commissioning/MeterMemory.h"
#include "commissioning/frmInstallCheck.h"

#include "CommissioningTestKit.h"

#include <QApplication>
#include <QHeaderView>
#include <QPalette>
#include <QTableWidget>
#include <QtTest>

using namespace commtest;

class TestInstallCheckPage : public QObject {
    Q_OBJECT

private slots:
    void verdictContrast_data();
    void verdictContrast();
    void tableGrowsWithThePage_data();
    void tableGrowsWithThePage();
};

namespace {

// 3LN, PT 400/400, CT 50/5; phase B without voltage: a fault, a warning, good ones and the
// rule that cannot judge.
void FeedMixedVerdicts(TFedMemory& memory) {
    memory.RegistersRead(0x1100, Regs({0, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1400,
                         Regs({2300, 0,   2300, 2300, 2300, 3984, 3000, 3000, 3000, 1533, 3100,
                               3000, 500, 400,  2000, 5000, 950,  'L',  0,    0,    100}));
}

double Contrast(const QColor& a, const QColor& b) {
    return ContrastRatio(TRgb{a.red(), a.green(), a.blue()}, TRgb{b.red(), b.green(), b.blue()});
}

} // namespace

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
    TFedMemory memory([] { return std::int64_t(0); });
    FeedMixedVerdicts(memory);
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
        const TCheckResult& r = page.Results()[static_cast<std::size_t>(row)];
        seen.insert(r.Verdict);
        for (const QColor& behind : {bg, window})
            QVERIFY2(Contrast(fg, behind) >= 4.5,
                     qPrintable(QString("%1 (%2) %3 on %4: %5:1")
                                    .arg(r.Check, VerdictText(r.Verdict), fg.name(), behind.name())
                                    .arg(Contrast(fg, behind), 0, 'f', 2)));
    }
    QCOMPARE(seen.size(), 4);
    // The line over all checks leads with the faults, in the faults' colour.
    QVERIFY2(page.VerdictLine().contains("fault"), qPrintable(page.VerdictLine()));
    int fault = 0;
    while (page.Results()[static_cast<std::size_t>(fault)].Verdict != TVerdict::Fault)
        ++fault;
    QCOMPARE(page.VerdictLineColour(), page.VerdictForeground(fault));
}

void TestInstallCheckPage::tableGrowsWithThePage_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("smallest") << QSize(760, 437);
    QTest::newRow("large") << QSize(1280, 1000);
}

// The table fills the page's width; its columns fill the table without a horizontal scroll bar
// and every row is as tall as its wrapped text needs.
void TestInstallCheckPage::tableGrowsWithThePage() {
    QFETCH(QSize, size);
    TFedMemory memory([] { return std::int64_t(0); });
    FeedMixedVerdicts(memory);
    TFormInstallCheck page(memory);
    page.resize(size);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* grid = page.findChild<QTableWidget*>("GridChecks");
    QVERIFY(grid != nullptr);
    QTRY_VERIFY(grid->width() >= size.width() - 24);
    QVERIFY(grid->geometry().bottom() >= size.height() - 24);
    QHeaderView* header = grid->horizontalHeader();
    QTRY_COMPARE(header->length(), grid->viewport()->width());
    // Rows follow their wrapped text as the columns take their widths.
    const QAbstractItemView* view = grid;
    for (int row = 0; row < grid->rowCount(); ++row)
        QTRY_COMPARE(grid->rowHeight(row), std::max(view->sizeHintForRow(row),
                                                    grid->verticalHeader()->sectionSizeHint(row)));
}

QTEST_MAIN(TestInstallCheckPage)
#include "tst_installcheckpage.moc"
