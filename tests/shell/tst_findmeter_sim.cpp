// Find Meter's scan in its dialog against the simulator: found, several, a double-click that uses
// and connects, and Cancel that closes the port.
#include "shell/frmFindMeter.h"
#include "support/ShellTestKit.h"
#include "support/SimProcess.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

using namespace shelltest;

namespace {

QStringList Rows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->topLevelItem(i)->text(c);
        rows << cells.join(' ');
    }
    return rows;
}

// The test's probes may wait this long for a meter to begin: the unpaced simulator answers
// at once, but a busy machine may hold it back; these tests are not about the wait.
constexpr double Turnaround = 0.060;
constexpr int Wait = 60000;

} // namespace

class TestFindMeterSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(PrivateConfig()); }

    void scanInTheDialog_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("every");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("38400 baud, found among the likely addresses")
            << QStringList{"--baud", "38400", "--serial", "F-1"} << false
            << QStringList{"COM9 1 38400 None1 KT580 3.20 F-1"};
        QTest::newRow("every meter of a line")
            << QStringList{"--address", "5", "--serial", "F-5", "--extra-meter", "2,F-2"} << true
            << QStringList{"COM9 2 19200 None1 KT580 3.20 F-2",
                           "COM9 5 19200 None1 KT580 3.20 F-5"};
    }
    void scanInTheDialog() {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, every);
        QFETCH(QStringList, rows);
        TSimProcess sim(simArgs, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        QCOMPARE(d.ComboPort->currentText(), QStringLiteral("COM9"));
        (every ? d.RadioEvery : d.RadioFirst)->setChecked(true);
        int finished = 0;
        d.OnScanFinished = [&finished] { ++finished; };
        d.show();
        QVERIFY(d.ButtonStart->isDefault());
        d.ButtonStart->click();
        QVERIFY(!d.ButtonStart->isEnabled());
        QVERIFY(d.ButtonCancel->isEnabled());
        QVERIFY(!d.LabelRemaining->text().isEmpty());
        // Read once the window has shown the scan's end, whatever the load.
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, Wait);
        QVERIFY(!d.Scanning());
        QVERIFY(d.ButtonStart->isEnabled());
        QCOMPARE(Rows(d.ListFound), rows);
        QCOMPARE(d.ProgressScan->value(), d.ProgressScan->maximum());
        QVERIFY(d.LabelTrying->text().startsWith("Meters found"));
        QVERIFY(LockFree(sim.Path()));
        // Enter now uses the meter found rather than searching again.
        QVERIFY(d.ButtonUse->isDefault());
        QVERIFY(!d.ButtonStart->isDefault());
        // Use hands back the meter chosen.
        d.ListFound->setCurrentItem(d.ListFound->topLevelItem(rows.size() - 1));
        d.ButtonUse->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.Chosen().has_value());
        QCOMPARE(QString::number(d.Chosen()->Address), rows.last().section(' ', 1, 1));
        QVERIFY(!d.ConnectAsked());
    }

    void doubleClickUsesAndConnects() {
        TSimProcess sim({"--address", "7", "--serial", "D-7"}, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        int finished = 0;
        d.OnScanFinished = [&finished] { ++finished; };
        d.show();
        d.ButtonStart->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, Wait);
        QCOMPARE(d.ListFound->topLevelItemCount(), 1);
        const QRect cell = d.ListFound->visualItemRect(d.ListFound->topLevelItem(0));
        // A double-click as the window sees it: a click, then the second press.
        QTest::mouseClick(d.ListFound->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(d.ListFound->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.Chosen().has_value());
        QCOMPARE(int(d.Chosen()->Address), 7);
        QVERIFY(d.ConnectAsked());
    }

    void cancelClosesThePort() {
        // Out of reach of the likely addresses and the first settings: the scan runs on.
        TSimProcess sim({"--address", "200", "--baud", "1200"}, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        d.show();
        d.ButtonStart->click();
        QTRY_VERIFY(d.LabelTrying->text().startsWith("Trying "));
        QVERIFY(!LockFree(sim.Path()));
        d.ButtonCancel->click();
        // Cancel returns with the port closed.
        QVERIFY(!d.Scanning());
        QVERIFY(LockFree(sim.Path()));
        QCOMPARE(d.LabelTrying->text(), QStringLiteral("Cancelled"));
        QVERIFY(d.ButtonStart->isEnabled());
        QVERIFY(!d.ButtonUse->isEnabled());
        QVERIFY(d.ProgressScan->value() < d.ProgressScan->maximum());
    }
};

QTEST_MAIN(TestFindMeterSim)
#include "tst_findmeter_sim.moc"
