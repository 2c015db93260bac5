// The line under stress with the whole program polling: answers garbled, dropped, cut short,
// noisy or split; Disconnect and Connect in quick succession, also with a command waiting; and
// the meter's adapter pulled out while polling and put back.
#include "comms/CommunicationHost.h"
#include "support/ScenarioKit.h"
#include "widgets/WidgetColours.h"

#include <QTimer>
#include <QtTest>

#include <charconv>

using namespace scenario;

namespace {

const QString Identity = "01,03,F0,00,00,09", Settings1100 = "01,03,11,00,00,0D",
              AOType = "01,03,F1,06,00,01", Measurement = "01,03,14,00,00,15",
              Energy = "01,03,11,80,00,0C", Relays = "01,01,00,00,00,02",
              Inputs = "01,02,00,00,00,06", Relay1On = "01,05,00,00,FF,00";

// The statistics panel for these counts, worked out here. The percentage is rounded as printf's
// "%.2f" rounds, from the exact value of the double (17 of 160 is 10.62, not 10.63), which
// to_chars does whatever the process's locale.
QString StatisticsFor(qlonglong errors, qlonglong sent) {
    char percent[32];
    const auto end =
        std::to_chars(percent, percent + sizeof percent, 100.0 * double(errors) / double(sent),
                      std::chars_format::fixed, 2)
            .ptr;
    return QString("ERR:  %1/%2  (%3%)").arg(errors).arg(sent).arg(QLatin1String(percent, end));
}

// The error count the statistics panel shows, -1 when it shows none.
qlonglong ShownErrors(const QString& statistics) {
    const QRegularExpressionMatch m =
        QRegularExpression(R"(^ERR:  (\d+)/(\d+)  \(\d+\.\d\d%\)$)").match(statistics);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// The metering page's queries from position from on follow its rotation, starting with the
// measurement block.
QString RotationBreak(const QStringList& sent, qsizetype from) {
    const QStringList rotation = {Measurement, Energy, Relays, Inputs};
    for (qsizetype i = from; i < sent.size(); ++i)
        if (sent[i] != rotation[(i - from) % 4])
            return QString("%1: %2").arg(i).arg(sent[i]);
    return {};
}

enum class TCommand { None, DuringQuery, InGap };

} // namespace

Q_DECLARE_METATYPE(TCommand)

class TestScenarioLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noisyLine_data();
    void noisyLine();
    void reconnectAtOnce_data();
    void reconnectAtOnce();
    void adapterUnplugged();
    void unansweredReadsShowStaleValues();
    void simulatorNamedInTheTitle_data();
    void simulatorNamedInTheTitle();
    void answerLostAtConnect_data();
    void answerLostAtConnect();
    void otherPortWhileDisconnecting();
};

void TestScenarioLine::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
    QVERIFY(QFileInfo::exists(SimBinary()));
    QLocale::setDefault(QLocale::c());
}

void TestScenarioLine::init() {
    ClearStore();
    GuardCom1();
}

void TestScenarioLine::cleanup() {
    UnmapPort(1);
}

void TestScenarioLine::noisyLine_data() {
    QTest::addColumn<QStringList>("faults");
    // The two rows between them inject every kind; only crc, drop and truncate lose an answer.
    QTest::newRow("crc and drop") << QStringList{"crc=0.05", "drop=0.05"};
    QTest::newRow("truncate, noise and split")
        << QStringList{"truncate=0.05", "noise=0.05", "split=0.05"};
}

void TestScenarioLine::noisyLine() {
    QFETCH(QStringList, faults);
    QStringList options = {"--seed", "14"};
    for (const QString& fault : faults)
        options << "--fault" << fault;
    TSimMeter meter(QStringList{"--version-text", "3.20"} + options,
                    MeterMemory("energy.0=4321\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    // A lost answer costs the time-out. Generous all the same: only the answers the meter's
    // line lost may be counted, never one the scheduler held up on a busy machine.
    p.Modbus().SetQueryTimeout(1000);
    QVERIFY(p.Connect());

    // Once the line has lost answers, the page goes on being filled: labels cleared now are
    // written again by later answers.
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().ErrorCount() >= 2, Wait);
    for (const char* name : {"LabelVa", "LabelIa", "LabelEp_total"})
        p.Metering(name)->clear();
    const int reads = p.Reads.value(0x1400);
    QTRY_VERIFY_WITH_TIMEOUT(
        p.Reads.value(0x1400) >= reads + 2 && !p.MeteringText("LabelEp_total").isEmpty(), Wait);
    for (const char* name : {"LabelVa", "LabelIa"})
        QVERIFY2(!p.MeteringText(name).isEmpty(), name);
    QVERIFY(p.MeteringText("LabelEp_total").startsWith("432."));
    // Scaled by the ratios of the settings read at connect, which is asked again when the line
    // lost its answer.
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1100) > 0, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(MeasurementMismatch(p, 4, 10).isEmpty(), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().SentCount() >= 120, 3 * Wait);
    QVERIFY(p.Disconnect());

    // The statistics panel counts exactly the answers the meter's line lost.
    const QMap<QString, qlonglong> counters = meter.Sim.Stop();
    const qlonglong lost = meter.Sim.LostAnswers();
    const qlonglong requests = counters.value("requests");
    QVERIFY(lost >= 2);
    QCOMPARE(qlonglong(p.Link().ErrorCount()), lost);
    QCOMPARE(qlonglong(p.Link().SentCount()), requests);
    QCOMPARE(p.Statistics(), StatisticsFor(lost, requests));
    // Every fault asked for happened, and every frame sent arrived.
    for (const QString& fault : faults)
        QVERIFY2(counters.value("fault_" + fault.section('=', 0, 0)) > 0, qPrintable(fault));
    QCOMPARE(meter.Sim.Requests(), p.Sent);
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(0));
}

void TestScenarioLine::reconnectAtOnce_data() {
    QTest::addColumn<TCommand>("command");
    QTest::newRow("nothing waiting") << TCommand::None;
    // Queued and Disconnect clicked while a query is on the line: that query ends the cycle,
    // and the command, never sent, goes with the queue.
    QTest::newRow("command waiting, query on the line") << TCommand::DuringQuery;
    // Clicked in the pause between two queries: the query whose turn has begun still goes out,
    // which is the command's write; its read-back goes with the queue.
    QTest::newRow("command waiting, between queries") << TCommand::InGap;
}

void TestScenarioLine::reconnectAtOnce() {
    QFETCH(TCommand, command);
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory("relay.0=0\nrelay.1=0\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    // Disconnect ends the cycle on the answer to the query on the line, never by waiting that
    // query out: with a timeout longer than any wait below, a disconnect that waited would
    // fail the test (the time it takes is a figure of bench_utility).
    p.Modbus().SetQueryTimeout(2 * Wait);
    QVERIFY(p.Connect());
    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString("OFF"), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= 2, Wait);

    // The operator's clicks, at a chosen point of the cycle: right after a measurement read
    // went out (the query is on the line), or right after one was handled (the master waits
    // out the pause before the next).
    bool armed = true, inQuery = false, running = false;
    qsizetype sentAtClick = -1;
    const auto click = [&] {
        inQuery = p.Modbus().InQuery();
        running = p.Modbus().Running();
        sentAtClick = p.Sent.size();
        if (command != TCommand::None) {
            p.Dialogs.Answers = {IDialogs::ResultYes};
            TProgram::Click(p.On(p.W->FormRTMetering(), "SpeedRO1"));
        }
        p.W->StartDisconnect()->trigger();
    };
    p.Modbus().WatchSent([&](const std::string& d) {
        if (armed && command != TCommand::InGap && QueryText(d) == Measurement) {
            armed = false;
            QTimer::singleShot(0, p.W.get(), click);
        }
    });
    p.Modbus().WatchAfterResponse([&] {
        if (armed && command == TCommand::InGap && p.Sent.last() == Measurement) {
            armed = false;
            QTimer::singleShot(0, p.W.get(), click);
        }
    });

    // Connect again as soon as it is offered.
    QTRY_VERIFY_WITH_TIMEOUT(
        sentAtClick >= 0 && p.W->FormModbus().State() == TConnectionState::Offline, Wait);
    QVERIFY(p.W->StartConnect()->isEnabled());
    QVERIFY(!p.Modbus().Opened());
    QVERIFY(p.Link().PendingQueries().empty());
    QCOMPARE(inQuery, command != TCommand::InGap);
    QVERIFY(running);
    const qsizetype sessionStart = p.Sent.size();
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Sent.size() >= sessionStart + 3 + 8, Wait);
    // The page agrees with the meter once polling has read the relays again.
    const QString held = command == TCommand::InGap ? "1" : "0";
    QCOMPARE(meter.State().value("relay.0"), held);
    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString(held == "1" ? "ON" : "OFF"),
                              Wait);
    QVERIFY(p.Disconnect());

    // Nothing lost or doubled on the line: the meter received exactly the frames sent, and
    // answered each.
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests, p.Sent);
    const auto counters = meter.Sim.Stop();
    QCOMPARE(counters.value("answers"), counters.value("requests"));
    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));

    // Before the click the rotation ran undisturbed; after it at most the query whose turn had
    // begun went out, and that is the command's write only when clicked between queries.
    QCOMPARE(RotationBreak(p.Sent.mid(0, sentAtClick), 3), QString());
    const QStringList tail = p.Sent.mid(sentAtClick, sessionStart - sentAtClick);
    if (command == TCommand::InGap)
        QCOMPARE(tail, QStringList{Relay1On});
    else
        QCOMPARE(tail, QStringList{});
    QCOMPARE(p.Sent.count(Relay1On), command == TCommand::InGap ? 1 : 0);

    // After Connect the page's reads come first, once, then its rotation; nothing left over from
    // before the disconnect.
    QCOMPARE(p.Sent.mid(sessionStart, 3), QStringList({Identity, Settings1100, AOType}));
    QCOMPARE(RotationBreak(p.Sent, sessionStart + 3), QString());
}

void TestScenarioLine::adapterUnplugged() {
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    // Generous: no error may be counted before the adapter is pulled, however busy the machine.
    p.Modbus().SetQueryTimeout(1000);
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= 2, Wait);
    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));
    const QString firstTerminal = meter.Sim.Path();

    // Pulled out while polling: the queries fail one after another and are counted, each once
    // and each as a query, also when the port no longer takes its frame.
    const std::uint64_t sentBefore = p.Link().SentCount();
    meter.Sim.Stop();
    GuardCom1();
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().ErrorCount() >= 3, Wait);
    // The status bar says why the meter is silent, on every page.
    const QString gone("COM1 is gone (adapter pulled out?)");
    QTRY_COMPARE_WITH_TIMEOUT(p.Tx(), gone, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(ShownErrors(p.Statistics()) >= 3, Wait);
    // The query on its way when the adapter went may have been counted before.
    QVERIFY2(p.Link().ErrorCount() <= p.Link().SentCount() - sentBefore + 1,
             qPrintable(p.Statistics()));
    // The program goes on: still connected, pages can be switched.
    QVERIFY(p.W->FormModbus().State() != TConnectionState::Offline);
    QVERIFY(p.W->StartDisconnect()->isEnabled());
    p.W->ReadingsDeviceInformation()->trigger();
    QCOMPARE(p.W->StatusText(0), QString("Device Information @ 1"));
    const std::uint64_t onInfo = p.Link().ErrorCount();
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().ErrorCount() > onInfo, Wait);
    QCOMPARE(p.Tx(), gone);
    p.W->ReadingsRealTimeMetering()->trigger();
    const std::uint64_t errors = p.Link().ErrorCount();
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().ErrorCount() >= errors + 2, Wait);
    QCOMPARE(p.Tx(), gone);

    // Disconnect closes the port.
    QVERIFY(p.Disconnect());
    QCOMPARE(p.Tx(), QString());
    QCOMPARE(p.Rx(), QString());
    QVERIFY(!QFileInfo::exists(firstTerminal) || LockFree(firstTerminal));

    // Connect while the meter is still away: the port is not there.
    p.W->StartConnect()->trigger();
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(p.Dialogs.Boxes[0].Caption, QString("Error"));
    QCOMPARE(p.Dialogs.Boxes[0].Text,
             QString("Cannot open the serial port 'COM1'\n\n"
                     "COM1 does not exist on this computer (no device behind it)."));
    QVERIFY(p.W->FormModbus().State() == TConnectionState::Offline);

    // Put back: Connect works again, the values come in and no further error is counted.
    QVERIFY(meter.Sim.Restart());
    const std::uint64_t errorsBefore = p.Link().ErrorCount();
    const qsizetype sessionStart = p.Sent.size();
    QVERIFY(p.Connect());
    p.Metering("LabelVa")->clear();
    const int reads = p.Reads.value(0x1400);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= reads + 3, Wait);
    QVERIFY(!p.MeteringText("LabelVa").isEmpty());
    QVERIFY2(p.Tx().startsWith("TXD:"), qPrintable(p.Tx()));
    const QString mismatch = MeasurementMismatch(p, 4, 10);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(p.Link().ErrorCount(), errorsBefore);
    QCOMPARE(ShownErrors(p.Statistics()), qlonglong(errorsBefore));
    QVERIFY(p.Disconnect());
    QVERIFY(LockFree(meter.Sim.Path()));
    QCOMPARE(meter.Sim.Requests(), p.Sent.mid(sessionStart));
    QCOMPARE(p.Sent.mid(sessionStart, 3), QStringList({Identity, Settings1100, AOType}));
}

void TestScenarioLine::unansweredReadsShowStaleValues() {
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= 2 && !p.MeteringText("LabelRO1").isEmpty(),
                             Wait);
    QWidget* page = p.W->FormRTMetering();
    const TValueColours colours = ValueColoursOf(page);
    const auto colour = [&](const QString& name) {
        return p.Metering(name)->palette().color(QPalette::Active, QPalette::WindowText);
    };
    const auto allShown = [&](const TRgb& value, bool stale) {
        const TRgb relay1 = p.MeteringText("LabelRO1") == "ON" ? colours.On : colours.Off;
        return colour("LabelVa") == ToQColor(value) && colour("LabelEp_total") == ToQColor(value) &&
               colour("LabelRO1") == ToQColor(stale ? colours.Stale : relay1);
    };
    QTRY_VERIFY_WITH_TIMEOUT(allShown(colours.Value, false), Wait);
    QVERIFY2(p.Tx().startsWith("TXD:"), qPrintable(p.Tx()));
    const QString va = p.MeteringText("LabelVa");

    // The operator sets an address no meter answers: the last meter's values stay on the page,
    // grey, and the transmit panel names the cause as the Communication window judges it.
    p.Link().SetDeviceAddress(9);
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().ErrorCount() >= 3, Wait);
    const TCommMonitor& monitor = p.W->Communication().Monitor();
    QTRY_VERIFY_WITH_TIMEOUT(monitor.Verdict().Kind != TVerdictKind::Waiting, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(p.Tx(), "Values not current. " + monitor.Verdict().Text, Wait);
    QVERIFY(allShown(colours.Stale, true));
    QCOMPARE(p.MeteringText("LabelVa"), va);

    // The meter's address again: fresh reads make the values live and the frames come back.
    p.Link().SetDeviceAddress(1);
    QTRY_VERIFY_WITH_TIMEOUT(allShown(colours.Value, false), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.Tx().startsWith("TXD:"), Wait);
    QVERIFY(p.Disconnect());
    // Disconnected, the values shown are the last ones read: stale.
    QVERIFY(allShown(colours.Stale, true));
}

void TestScenarioLine::simulatorNamedInTheTitle_data() {
    QTest::addColumn<bool>("byItself");
    // The simulator maps itself as COM1 (and leaves its note); or a terminal is mapped as COM1
    // by hand, as an operator maps a meter's adapter: the same answers, no simulator's note.
    QTest::newRow("simulator as COM1") << true;
    QTest::newRow("a meter mapped as COM1") << false;
}

void TestScenarioLine::simulatorNamedInTheTitle() {
    QFETCH(bool, byItself);
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory(),
                    byItself ? 1 : TSimProcess::Unmapped);
    QVERIFY(meter.Started());
    if (!byItself)
        MapPort(1, meter.Path());
    TProgram p;
    QVERIFY(p.Start());
    const QString title = p.W->windowTitle();
    QVERIFY(!title.contains("Simulator"));
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= 1, Wait);
    QCOMPARE(p.W->windowTitle().contains("Simulator"), byItself);
    QVERIFY(p.Disconnect());
    QCOMPARE(p.W->windowTitle(), title);
}

void TestScenarioLine::answerLostAtConnect_data() {
    QTest::addColumn<QStringList>("lost"); // start registers whose next answer is lost
    QTest::newRow("ratios") << QStringList{"1100"};
    QTest::newRow("ratios twice") << QStringList{"1100", "1100"};
    QTest::newRow("identity") << QStringList{"f000"};
    QTest::newRow("identity and ratios") << QStringList{"f000", "1100"};
}

void TestScenarioLine::answerLostAtConnect() {
    QFETCH(QStringList, lost);
    QStringList options = {"--version-text", "3.20"};
    for (const QString& block : lost)
        options << "--lose-answer" << block;
    TSimMeter meter(options, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    p.Modbus().SetQueryTimeout(300);
    // After every measurement read the page shows values scaled by the meter's PT 400/100 and
    // CT 50/5, or none: never one scaled by ratios it does not know.
    QStringList wrong;
    p.Modbus().WatchReads([&](std::uint16_t start, std::span<const std::uint16_t>) {
        if (start == 0x1400) {
            const QString mismatch = MeasurementMismatch(p, 4, 10, true);
            if (!mismatch.isEmpty())
                wrong << mismatch;
        }
    });
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1100) >= 1 && p.Reads.value(0xF000) >= 1, Wait);
    const int reads = p.Reads.value(0x1400);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= reads + 2, Wait);
    QCOMPARE(p.Link().SoftwareVersion(), QString("3.20"));
    QVERIFY(p.Disconnect());
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    // Once the ratios are in, every label shows its value.
    const QString mismatch = MeasurementMismatch(p, 4, 10);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // Asked again until answered: each read once, plus once for every answer lost.
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests.count(Identity), 1 + int(lost.count("f000")));
    QCOMPARE(requests.count(Settings1100), 1 + int(lost.count("1100")));
    // Disconnected, the version belongs to no meter.
    QVERIFY(p.Link().SoftwareVersion().isEmpty());
    // The meter's layout known, the long energy block is polled and its labels filled.
    QVERIFY(requests.contains(Energy));
    QVERIFY(!p.MeteringText("LabelEp_exp").isEmpty());
    QCOMPARE(qlonglong(p.Link().ErrorCount()), qlonglong(lost.size()));
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(0));
}

void TestScenarioLine::otherPortWhileDisconnecting() {
    // A meter slow to answer: the query in progress at Disconnect is answered 1.5 s later.
    TSimMeter meter({"--version-text", "3.20", "--delay", "1500"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Sent.size() == 1, Wait);
    p.W->StartDisconnect()->trigger();
    QVERIFY(p.W->FormModbus().State() != TConnectionState::Offline);
    QVERIFY(!p.W->StartConnect()->isEnabled());

    // Connection Settings while the disconnect is finishing: another port chosen, OK.
    bool answered = false, locked = false;
    {
        TModalWatcher watcher([&](QWidget* modal) {
            TFormConnection& d = p.W->FormConnection();
            if (modal != &d || answered) {
                modal->close();
                return;
            }
            locked = !d.ComboPortName->isEnabled();
            d.ComboPortName->setCurrentText("COM2");
            answered = true;
            d.ButtonOk->click();
        });
        p.W->StartConnectionSettings()->trigger();
    }
    QVERIFY(answered);
    QVERIFY(locked);
    // The disconnect finishes by itself: offline, Connect available, the port closed and kept.
    QTRY_VERIFY_WITH_TIMEOUT(p.W->FormModbus().State() == TConnectionState::Offline &&
                                 p.W->StartConnect()->isEnabled() && !p.Modbus().Opened(),
                             Wait);
    QVERIFY(!p.W->StartDisconnect()->isEnabled());
    QCOMPARE(int(p.Modbus().PortNum()), 1);
    QCOMPARE(p.Statistics(), QString("ERR:  0/1  (0.00%)"));
    QVERIFY(LockFree(meter.Sim.Path()));
}

QTEST_MAIN(TestScenarioLine)
#include "tst_scenario_line.moc"
