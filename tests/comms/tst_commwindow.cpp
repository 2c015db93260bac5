// The Communication window shows what the monitor keeps: the figures, the verdict, the log with
// its filter and pause, Reset, and Save Log through the dialog seam; it refreshes only while
// shown, and the main window's statistics panel opens it with a double-click.
#include "comms/CommTestKit.h"
#include "comms/CommunicationHost.h"
#include "comms/LogModel.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"
#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const std::string Read1 = Hex("01 03 14 00 00 01");

QStringList LogLines(const TFormCommunication& w) {
    QStringList lines;
    for (int row = 0; row < w.LogModel->rowCount(); ++row)
        lines << w.LogModel->index(row).data().toString();
    return lines;
}

} // namespace

class TestCommWindow : public QObject {
    Q_OBJECT
private slots:
    void showsFigures();
    void logFollowsFilterPauseAndReset();
    void saveLog_data();
    void saveLog();
    void refreshesOnlyWhileShown();
    void logRowsDrawnAsWhole_data();
    void logRowsDrawnAsWhole();
    void panelDoubleClickOpensWindow();
};

void TestCommWindow::showsFigures() {
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    TScriptedDialogs dialogs;
    TFormCommunication w(m, dialogs);
    QCOMPARE(w.Value("median")->text(), QString("--"));
    for (int i = 0; i < 4; ++i)
        RunQuery(m, clock, Read1, WithCrc(Hex("01 03 02 00 07")), 0, -1, 20, 100, 57600);
    RunQuery(m, clock, Hex("01 03 12 08 00 02"), WithCrc(Hex("01 83 02")), 4, 2, 20, 100, 57600);
    w.Refresh();
    QCOMPARE(w.Value("sent")->text(), QString("5"));
    QCOMPARE(w.Value("answered")->text(), QString("4"));
    QCOMPARE(w.Value("exceptions")->text(), QString("1 x 02 Illegal data address"));
    QCOMPARE(w.Value("bytes")->text(), QString("40 / 33"));
    QCOMPARE(w.Value("lineerrors")->text(), QString("framing 0, parity 0, overrun 0"));
    // 8 characters of 10 bits at 57600 baud: 1.4 ms of the 20 ms to the answer.
    QCOMPARE(w.Value("last")->text(), QString("18.6 ms"));
    QCOMPARE(w.Value("rate")->text(), QString("40.0 queries/s"));
    QVERIFY(w.Value("share")->text().endsWith("% of 57600 baud"));
    QVERIFY(w.LabelVerdict->text().contains("exception 02"));
}

void TestCommWindow::logFollowsFilterPauseAndReset() {
    TStepClock clock;
    TCommMonitor m(clock.Clock(), 6);
    TScriptedDialogs dialogs;
    TFormCommunication w(m, dialogs);
    RunQuery(m, clock, Read1, WithCrc(Hex("01 03 02 00 07")), 0);
    RunQuery(m, clock, Read1, {}, 1);
    w.Refresh();
    QCOMPARE(LogLines(w).size(), 4);
    QVERIFY(LogLines(w).last().endsWith("no response"));
    w.CheckErrorsOnly->setChecked(true);
    QCOMPARE(LogLines(w).size(), 1);
    w.CheckErrorsOnly->setChecked(false);
    QCOMPARE(LogLines(w).size(), 4);

    // Paused, the log shown stands still while the frames go on; Save Log saves what is shown.
    w.CheckPause->setChecked(true);
    RunQuery(m, clock, Read1, Hex("01 03 02"), 2);
    w.Refresh();
    QCOMPARE(LogLines(w).size(), 4);
    QCOMPARE(&w.LogModel->Shown() == &m.Log(), false);
    // Unpaused, the frames that came meanwhile follow; the window shows no more than the log.
    RunQuery(m, clock, Read1, {}, 1);
    w.CheckPause->setChecked(false);
    QCOMPARE(LogLines(w).size(), 6);
    QVERIFY(LogLines(w).last().endsWith("no response"));
    QVERIFY(LogLines(w).at(3).contains("CRC bad"));
    QVERIFY(LogLines(w).first().contains("  TX  "));

    w.ResetClick();
    QCOMPARE(w.Value("sent")->text(), QString("0"));
    QVERIFY(LogLines(w).isEmpty());
    RunQuery(m, clock, Read1, {}, 1);
    w.Refresh();
    QCOMPARE(LogLines(w).size(), 2);
}

void TestCommWindow::saveLog_data() {
    QTest::addColumn<QString>("name"); // empty: cancelled; "missing/": a folder that is not there
    QTest::addColumn<bool>("errorsOnly");
    QTest::addColumn<int>("lines"); // -1: no file
    QTest::addColumn<int>("errorBoxes");
    QTest::newRow("text") << "log.txt" << false << 4 << 0;
    QTest::newRow("csv errors only") << "log.csv" << true << 2 << 0;
    QTest::newRow("cancelled") << "" << false << -1 << 0;
    QTest::newRow("cannot write") << "missing/log.txt" << false << -1 << 1;
}

void TestCommWindow::saveLog() {
    QFETCH(QString, name);
    QFETCH(bool, errorsOnly);
    QFETCH(int, lines);
    QFETCH(int, errorBoxes);
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    TScriptedDialogs dialogs;
    TFormCommunication w(m, dialogs);
    RunQuery(m, clock, Read1, WithCrc(Hex("01 03 02 00 07")), 0);
    RunQuery(m, clock, Read1, {}, 1);
    w.CheckErrorsOnly->setChecked(errorsOnly);
    QTemporaryDir dir;
    const QString path = name.isEmpty() ? QString() : dir.filePath(name);
    dialogs.SaveNames.push_back(path);
    w.SaveLogClick();
    QCOMPARE(int(dialogs.Boxes.size()), errorBoxes);
    if (errorBoxes > 0) {
        QCOMPARE(dialogs.Boxes[0].Caption, QString("Error"));
        QVERIFY(dialogs.Boxes[0].Text.contains(path));
    }
    QFile file(path);
    if (lines < 0) {
        QVERIFY(path.isEmpty() || !file.exists());
        return;
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), lines);
}

void TestCommWindow::refreshesOnlyWhileShown() {
    TCommMonitor m;
    TScriptedDialogs dialogs;
    TFormCommunication w(m, dialogs);
    QVERIFY(!w.TimerRefresh->isActive());
    w.show();
    QVERIFY(w.TimerRefresh->isActive());
    m.FrameSent(WithCrc(Read1), {19200, 10, 500});
    QTRY_COMPARE(w.Value("sent")->text(), QString("1"));
    w.hide();
    QVERIFY(!w.TimerRefresh->isActive());
}

void TestCommWindow::logRowsDrawnAsWhole_data() {
    QTest::addColumn<int>("width");       // of the window
    QTest::addColumn<bool>("shortLast");  // the last row, whose width every row gets, is short
    QTest::addColumn<double>("scrolled"); // how far the log is scrolled to the right, 0 to 1
    QTest::addColumn<bool>("selected");
    QTest::newRow("long rows") << 760 << false << 0.0 << false;
    QTest::newRow("long rows, scrolled half") << 760 << false << 0.5 << false;
    QTest::newRow("long rows, scrolled to the end") << 760 << false << 1.0 << true;
    QTest::newRow("elided at a short last row's width") << 760 << true << 0.0 << false;
    QTest::newRow("elided, scrolled to the end") << 760 << true << 1.0 << true;
    QTest::newRow("narrow, selected") << 320 << false << 0.0 << true;
    QTest::newRow("wide, selected") << 2400 << false << 0.0 << true;
}

// The log's delegate draws each row's head only: what shows is what the whole row would show.
void TestCommWindow::logRowsDrawnAsWhole() {
    QFETCH(int, width);
    QFETCH(bool, shortLast);
    QFETCH(double, scrolled);
    QFETCH(bool, selected);
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    TScriptedDialogs dialogs;
    TFormCommunication w(m, dialogs);
    std::string values;
    for (int i = 0; i < 100; ++i)
        values += Hex("12 AB");
    for (int i = 0; i < 30; ++i)
        RunQuery(m, clock, Hex("01 03 00 00 00 64"), WithCrc(Hex("01 03 C8") + values), 0);
    if (shortLast)
        m.FrameSent(WithCrc(Read1), {19200, 10, 500});
    w.resize(width, 560);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QScrollBar* bar = w.ListLog->horizontalScrollBar();
    bar->setValue(static_cast<int>(bar->maximum() * scrolled));
    if (selected)
        w.ListLog->selectAll();
    const QImage drawn = w.ListLog->grab().toImage();
    QStyledItemDelegate whole;
    w.ListLog->setItemDelegate(&whole);
    const QImage expected = w.ListLog->grab().toImage();
    w.ListLog->setItemDelegate(nullptr);
    QCOMPARE(drawn.size(), expected.size());
    QVERIFY(drawn == expected);
}

void TestCommWindow::panelDoubleClickOpensWindow() {
    TFakeShell shell;
    TScriptedDialogs dialogs;
    TFormModbus link(shell, dialogs);
    QWidget main;
    QLabel panel(&main);
    TCommunicationHost host(link, dialogs, &main, &panel);
    QVERIFY(!host.Window());
    // The link reports to the monitor whether or not the window was ever opened.
    link.ModbusSendData(TLinkTestAccess::Master(link), WithCrc(Read1));
    QCOMPARE(host.Counters().Sent, std::uint64_t(1));
    main.show();
    QTest::mouseDClick(&panel, Qt::LeftButton);
    QVERIFY(host.Window());
    QVERIFY(host.Window()->isVisible());
    QVERIFY(host.Window()->isWindow());
    QCOMPARE(host.Window()->Value("sent")->text(), QString("1"));
    // Opening again shows the same window.
    TFormCommunication* first = host.Window();
    host.Open();
    QCOMPARE(host.Window(), first);
}

QTEST_MAIN(TestCommWindow)
#include "tst_commwindow.moc"
