// The Bus page on a link whose three meters answered: its rows, choosing the meter the pages
// show, pausing one, and the export through the dialog seam.
#include "link/FormModbusRig.h"

#include "busview/frmBus.h"

#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>

class TestFormBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void rowsSelectionAndPause();
    void exportWritesTheTable_data();
    void exportWritesTheTable();
};

namespace {

// Three meters on the link, each read far enough for its identity, serial number and values.
void ThreeMetersRead(TRig& r) {
    r.F03(0x1100, GeneralBlock(100, 100, 5, 5));
    r.Link.SetBusAddresses({1, 2, 3});
    AnsweredTurns(r, 30, 500);
}

} // namespace

void TestFormBus::rowsSelectionAndPause() {
    TRig r;
    ThreeMetersRead(r);
    TFormBus page(r.Link, r.Dialogs);
    page.Refresh();
    const auto rows = page.Rows();
    QCOMPARE(rows.size(), std::size_t(3));
    QCOMPARE(page.Table()->rowCount(), 3);
    // Address, serial number, state and mean phase voltage of each meter, its own values.
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rows[std::size_t(i)][0], QString::number(i + 1));
        QCOMPARE(rows[std::size_t(i)][3], QStringLiteral("answering"));
        QCOMPARE(rows[std::size_t(i)][6], QString("%1.0").arg(i + 1));
    }
    QCOMPARE(rows[1][1], QStringLiteral("SN2"));
    QVERIFY(page.Summary()->text().startsWith("Cycle:"));

    page.SelectRow(1);
    QCOMPARE(int(r.Link.DeviceAddress()), 2);
    QVERIFY(r.Shell.AddressRefreshes > 0);
    QVERIFY(page.Table()->item(1, 0)->font().bold());
    QVERIFY(!page.Table()->item(0, 0)->font().bold());

    page.Table()->setCurrentCell(2, 0);
    page.PauseSelected(true);
    QCOMPARE(r.Link.Bus().State(3), TBusMeterState::Paused);
    QCOMPARE(page.Table()->item(2, 3)->text(), QStringLiteral("paused"));
    const QStringList sent = AnsweredTurns(r, 12, 500);
    QVERIFY2(sent.filter(QRegularExpression("^03,")).isEmpty(), qPrintable(sent.join(' ')));
    page.PauseSelected(false);
    QVERIFY(r.Link.Bus().State(3) != TBusMeterState::Paused);
}

void TestFormBus::exportWritesTheTable_data() {
    QTest::addColumn<bool>("writable");
    QTest::newRow("saved") << true;
    QTest::newRow("folder missing") << false;
}

void TestFormBus::exportWritesTheTable() {
    QFETCH(bool, writable);
    TRig r;
    ThreeMetersRead(r);
    TFormBus page(r.Link, r.Dialogs);
    page.Refresh();
    QTemporaryDir dir;
    const QString path = dir.filePath(writable ? "bus.csv" : "missing/bus.csv");
    r.Dialogs.SaveNames.push_back(path);
    QCOMPARE(page.Export(), writable);
    QFile file(path);
    if (!writable) {
        QVERIFY(!file.exists());
        QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(1));
        QVERIFY(r.Dialogs.Boxes[0].Text.contains("could not be saved"));
        return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], BusColumnTitles().join(','));
    QCOMPARE(lines[2], page.Rows()[1].join(','));
    QVERIFY(r.Dialogs.Boxes.empty());
}

QTEST_MAIN(TestFormBus)
#include "tst_formbus.moc"
