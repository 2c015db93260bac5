// The meter link against the simulator on a pty: connecting on each page, adopting new line
// settings, what its followers hear, faults on the line, a port change and closing.
#include "FormModbusRig.h"

#include <set>

class TestFormModbusSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void connectOnEachPage_data();
    void connectOnEachPage();
    void adoptsNewLineSettingsAfterAnswer();
    void overLimitBoxDoesNotReenterMaster();
    void statisticsCountInjectedFaults();
    void portChangeEndsTheCycle();
    void closingSendsTheQueuedWrites_data();
    void closingSendsTheQueuedWrites();
    void listenersHearEachQueryEnd();
    void sharedLineWithFaultyMeters();
};

void TestFormModbusSim::connectOnEachPage_data() {
    QTest::addColumn<TPage>("page");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("expected");
    const QString id = "01,03,F0,00,00,09", meas = "01,03,14,00,00,15",
                  relays = "01,01,00,00,00,02", inputs = "01,02,00,00,00,06";
    QTest::newRow("metering 3.20")
        << TPage::RTMetering << "3.20" << QStringList{id,
                                                      "01,03,11,00,00,0D",
                                                      "01,03,F1,06,00,01",
                                                      meas,
                                                      "01,03,11,80,00,0C",
                                                      relays,
                                                      inputs,
                                                      meas};
    QTest::newRow("metering 3.05")
        << TPage::RTMetering << "3.05" << QStringList{id,
                                                      "01,03,11,00,00,0D",
                                                      "01,03,F1,06,00,01",
                                                      meas,
                                                      "01,03,11,80,00,04",
                                                      relays,
                                                      inputs,
                                                      meas};
    QTest::newRow("device info") << TPage::DeviceInfo << "3.20"
                                 << QStringList{id, id, "01,03,F0,40,00,10", "01,03,F1,06,00,01"};
    // The version read first decides nothing for this call: the extra blocks need a second one.
    QTest::newRow("settings") << TPage::GeneralSettings << "3.20"
                              << QStringList{id, "01,03,11,00,00,0D", "01,03,12,00,00,08",
                                             "01,03,13,00,00,0C"};
}

void TestFormModbusSim::connectOnEachPage() {
    QFETCH(TPage, page);
    QFETCH(QString, version);
    QFETCH(QStringList, expected);
    TSimProcess sim({"--version-text", version});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = page;
    int asked = 0;
    auto query = TLinkTestAccess::Master(r.Link).OnQueryData;
    TLinkTestAccess::Master(r.Link).OnQueryData = [&asked, query](TKrModbus& m, std::string& text) {
        query(m, text);
        ++asked;
    };
    QVERIFY(ConnectLink(r.Link));
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= expected.size(), 10000);
    if (page != TPage::RTMetering) {
        // Not polled: after its reads the page gets null queries, which send nothing, however
        // often the cycle asks.
        const auto sent = r.Link.SentCount();
        const int before = asked;
        QTRY_VERIFY_WITH_TIMEOUT(asked >= before + 5, 10000);
        QCOMPARE(r.Link.SentCount(), sent);
    }
    QCOMPARE(r.Link.SoftwareVersion(), version);
    if (page == TPage::DeviceInfo)
        QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSoftVersion], version);
    QVERIFY(DisconnectLink(r.Link));
    QCOMPARE(sim.Requests().mid(0, expected.size()), expected);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QCOMPARE(r.Link.State(), TConnectionState::Offline);
    QCOMPARE(r.Shell.State(), TConnectionState::Offline);
    // The next meter connected may be another: its version is read again.
    QVERIFY(r.Link.SoftwareVersion().isEmpty());
    if (page == TPage::RTMetering) {
        QVERIFY(!r.Metering.Measurement[0].isEmpty());
        QVERIFY(r.Metering.Measurement[0].endsWith(" V"));
        QCOMPARE(r.Metering.Energy.size(), std::size_t(version == "3.05" ? 2 : 6));
        QCOMPARE(r.Metering.ExtendedShown, version != "3.05");
    }
    // Nor is the page left showing the meter that was.
    for (const auto& [field, text] : r.DeviceInfo.Fields)
        QVERIFY(text.isEmpty());
}

void TestFormModbusSim::adoptsNewLineSettingsAfterAnswer() {
    TSimProcess sim({"--version-text", "3.20"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = TPage::GeneralSettings;
    r.Link.AppendQuery(GeneralWrite("5", "9600", 0));
    r.Link.SetNewLineSettings(5, 9600, TParity::Even, TStopBits::_1);
    r.Link.AppendQuery("00,03,11,00,00,0D");
    QVERIFY(ConnectLink(r.Link));
    // Set after connecting, which shortens every wait; the first answer is still to come.
    r.Link.SetAdoptWait(50);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.PendingQueries().empty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= 6, 10000);
    QVERIFY(DisconnectLink(r.Link));
    QCOMPARE(int(r.Link.DeviceAddress()), 5);
    QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), 9600);
    QVERIFY(TLinkTestAccess::Master(r.Link).Parity() == TParity::Even);
    const QStringList req = sim.Requests();
    QVERIFY2(req.value(0).startsWith("01,10,11,00"), qPrintable(req.join(' ')));
    QCOMPARE(req.value(1), QStringLiteral("05,03,11,00,00,0D"));
    QCOMPARE(req.value(2), QStringLiteral("05,03,F0,00,00,09"));
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QCOMPARE(r.Settings.Record.Address, QStringLiteral("5"));
    QCOMPARE(r.Settings.Record.Baudrate, QStringLiteral("9600"));
    QCOMPARE(r.Settings.Record.Parity, 0);
}

// Records what the link tells its listeners, in order.
class TListenerLog : public IMeterEvents {
public:
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override {
        const char* results[] = {"answered", "exception", "no answer", "bad answer"};
        Events << QString("%1 %2 %3 at %4/%5")
                      .arg(QString::fromStdString(text), results[int(outcome.Result)])
                      .arg(outcome.ExceptionCode)
                      .arg(line.Address)
                      .arg(line.Baudrate);
    }
    void BlockRead(const TMeterModel&, std::uint16_t start,
                   std::span<const std::uint16_t>) override {
        Events << QString("read %1").arg(start, 0, 16);
    }
    void LineAdopted(const TLinkLine& before, const TLinkLine& after) override {
        Events << QString("adopted %1/%2 -> %3/%4")
                      .arg(before.Address)
                      .arg(before.Baudrate)
                      .arg(after.Address)
                      .arg(after.Baudrate);
    }
    void CycleEnded() override { Events << "ended"; }
    QStringList Events;
};

void TestFormModbusSim::listenersHearEachQueryEnd() {
    // Relay answers never come back: the relay write ends without an answer.
    TSimProcess sim({"--version-text", "3.20", "--mute-function", "05"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = TPage::GeneralSettings;
    TListenerLog log;
    r.Link.Follow(&log);
    r.Link.Follow(&log);                              // once only
    r.Link.AppendQuery("00,10,11,07,00,01,02,00,00"); // PT2 0: refused with exception 04
    r.Link.AppendQuery("00,05,00,00,FF,00");
    r.Link.AppendQuery(GeneralWrite("5", "9600", 3));
    r.Link.SetNewLineSettings(5, 9600, TParity::None, TStopBits::_1);
    r.Link.AppendQuery("00,03,11,00,00,0D");
    QVERIFY(ConnectLink(r.Link));
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(300);
    QTRY_VERIFY_WITH_TIMEOUT(log.Events.contains("read 1100"), 10000);
    QVERIFY(DisconnectLink(r.Link));
    r.Link.Unfollow(&log);
    const QString general = QString::fromStdString(GeneralWrite("5", "9600", 3));
    // Identity and page reads come first; from the refused write on, in this order.
    const qsizetype from = log.Events.indexOf("00,10,11,07,00,01,02,00,00 exception 4 at 1/19200");
    QVERIFY2(from >= 0, qPrintable(log.Events.join('\n')));
    QCOMPARE(log.Events.mid(from, 6),
             QStringList({"00,10,11,07,00,01,02,00,00 exception 4 at 1/19200",
                          "00,05,00,00,FF,00 no answer 0 at 1/19200",
                          general + " answered 0 at 1/19200", "adopted 1/19200 -> 5/9600",
                          "read 1100", "00,03,11,00,00,0D answered 0 at 5/9600"}));
    QCOMPARE(log.Events.last(), QString("ended"));
}

void TestFormModbusSim::overLimitBoxDoesNotReenterMaster() {
    TSimProcess sim({"--version-text", "3.20"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    // PT2 of 0 is refused by the meter with exception 04.
    r.Link.AppendQuery("00,10,11,07,00,01,02,00,00");
    r.Link.AppendQuery("00,03,11,00,00,0D");
    std::uint64_t sentWhenOpened = 0;
    r.Dialogs.OnBox = [&](const TScriptedDialogs::TBox&) {
        // While the box is open the link keeps polling, as behind a real modal box.
        sentWhenOpened = r.Link.SentCount();
        QTRY_VERIFY_WITH_TIMEOUT(r.Link.SentCount() >= sentWhenOpened + 6, 5000);
    };
    QVERIFY(ConnectLink(r.Link));
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(1), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= 16, 10000);
    QVERIFY(DisconnectLink(r.Link));
    QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));

    // Every query went out once, in its order: the queue, then the page's reads, then the
    // rotation from the measurement block without a gap or a repeat.
    const QStringList req = sim.Requests();
    QCOMPARE(req.mid(0, 5),
             (QStringList{"01,10,11,07,00,01,02,00,00", "01,03,11,00,00,0D", "01,03,F0,00,00,09",
                          "01,03,11,00,00,0D", "01,03,F1,06,00,01"}));
    const QStringList rotation{"01,03,14,00,00,15", "01,03,11,80,00,0C", "01,01,00,00,00,02",
                               "01,02,00,00,00,06"};
    for (int i = 5; i < req.size(); ++i)
        QCOMPARE(req[i], rotation[(i - 5) % 4]);
    const auto counters = sim.Stop();
    QCOMPARE(counters.value("exception04"), 1);
    QCOMPARE(qlonglong(r.Link.SentCount()), counters.value("requests"));
}

void TestFormModbusSim::statisticsCountInjectedFaults() {
    TSimProcess sim({"--version-text", "3.20", "--seed", "7", "--fault", "crc=0.08", "--fault",
                     "drop=0.08", "--fault", "truncate=0.08", "--fault", "noise=0.08", "--fault",
                     "split=0.08"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    QVERIFY(ConnectLink(r.Link));
    TLinkTestAccess::Master(r.Link).SetQueryInterval(5);
    // Generous: only the spoilt answers may cost a time-out, never one the scheduler held up.
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(1000);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.SentCount() >= 120, 120000);
    QVERIFY(DisconnectLink(r.Link));
    const qlonglong lost = sim.LostAnswers();
    const auto counters = sim.Stop();
    QVERIFY(lost > 0);
    QCOMPARE(qlonglong(r.Link.ErrorCount()), lost);
    QCOMPARE(qlonglong(r.Link.SentCount()), counters.value("requests"));
    QCOMPARE(r.Shell.Panels[3],
             TTrafficStats::StatisticsText(r.Link.ErrorCount(), r.Link.SentCount()));
    // The values kept coming in between the faults.
    QVERIFY(!r.Metering.Measurement[0].isEmpty());
}

void TestFormModbusSim::portChangeEndsTheCycle() {
    // A meter slow to answer: the first query is still on its way when the port changes.
    TSimProcess sim({"--version-text", "3.20", "--delay", "2000"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r;
    QVERIFY(ConnectLink(r.Link));
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(5000);
    QTRY_COMPARE_WITH_TIMEOUT(r.Link.SentCount(), std::uint64_t(1), 5000);
    // Disconnect, and the port changed before the query in progress has been answered.
    r.Link.RequestDisconnect();
    r.Link.UpdateCommandStates();
    TLinkTestAccess::Master(r.Link).Stop();
    r.Link.SetPortNum(2);
    QVERIFY(!TLinkTestAccess::Master(r.Link).Opened());
    QVERIFY(!TLinkTestAccess::Master(r.Link).Running());
    QCOMPARE(int(TLinkTestAccess::Master(r.Link).PortNum()), 2);
    // The cycle ended as a disconnect ends it: offline, queue dropped, the query counted.
    QCOMPARE(r.Shell.State(), TConnectionState::Offline);
    QVERIFY(r.Link.PendingQueries().empty());
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  1/1  (100.00%)"));
    QVERIFY(r.Shell.Panels[1].isEmpty());
    // Nothing of the old cycle comes back later: not when its timers would have run out, nor
    // from anything still posted.
    r.Clock.Advance(10000);
    QCoreApplication::processEvents();
    QCOMPARE(r.Link.SentCount(), std::uint64_t(1));
    QCOMPARE(r.Link.State(), TConnectionState::Offline);
}

void TestFormModbusSim::closingSendsTheQueuedWrites_data() {
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<bool>("waits");
    QTest::addColumn<QStringList>("sent");
    const QString on1 = "01,05,00,00,FF,00", on2 = "01,05,00,01,FF,00",
                  relays = "01,01,00,00,00,02";
    QTest::newRow("writes with read-backs") << QStringList{"00,05,00,00,FF,00", "00,01,00,00,00,02",
                                                           "00,05,00,01,FF,00", "00,01,00,00,00,02"}
                                            << true << QStringList{on1, on2};
    QTest::newRow("the last write on its way")
        << QStringList{"00,05,00,00,FF,00", "00,01,00,00,00,02"} << true << QStringList{on1};
    QTest::newRow("reads only") << QStringList{"00,01,00,00,00,02", "00,01,00,00,00,02"} << false
                                << QStringList{relays};
}

void TestFormModbusSim::closingSendsTheQueuedWrites() {
    QFETCH(QStringList, queued);
    QFETCH(bool, waits);
    QFETCH(QStringList, sent);
    // Every answer takes a while, so the queue is still full when closing begins.
    TSimProcess sim({"--version-text", "3.20", "--delay", "150"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    for (const QString& q : queued)
        r.Link.AppendQuery(q.toStdString());
    QVERIFY(ConnectLink(r.Link));
    QTRY_COMPARE_WITH_TIMEOUT(r.Link.SentCount(), std::uint64_t(1), 5000);
    QCOMPARE(r.Link.FinishWritesThenStop(), waits);
    if (!waits) {
        QVERIFY(DisconnectLink(r.Link));
    } else {
        // The cycle ends by itself once the writes are out, and the port closes.
        QTRY_VERIFY_WITH_TIMEOUT(!TLinkTestAccess::Master(r.Link).Opened(), 10000);
        QCOMPARE(r.Shell.State(), TConnectionState::Offline);
    }
    QCOMPARE(sim.Requests(), sent);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QVERIFY(r.Link.PendingQueries().empty());
}

namespace {

// Which meters' metering reads a stream carried.
class TReadingAddresses : public IMeterEvents {
public:
    void MeteringRead(const TMeterModel& meter, const TMeterReading&) override {
        Addresses.insert(meter.Line().Address);
    }
    std::set<int> Addresses;
};

} // namespace

void TestFormModbusSim::sharedLineWithFaultyMeters() {
    // Meter 3 never answers, 4 answers late, 5 answers with broken frames, 2 is well.
    TSimProcess sim({"--extra-meter", "2,SN-TWO", "--extra-meter", "3", "--extra-meter", "4",
                     "--extra-meter", "5", "--meter-fault", "3:silent", "--meter-fault",
                     "4:slow=300", "--meter-fault", "5:garble"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = TPage::RTMetering;
    r.Link.SetOtherMetersInterval(100);
    r.Link.SetBusAddresses({1, 2, 3, 4, 5});
    TReadingAddresses pages;
    r.Link.Follow(&pages);
    TReadingAddresses others;
    r.Link.FollowBus(&others);
    QVERIFY(ConnectLink(r.Link, {20, 600, 0}));
    const TBusSchedule& bus = r.Link.Bus();
    QTRY_COMPARE_WITH_TIMEOUT(bus.State(3), TBusMeterState::Offline, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(bus.Stats(4).Answered >= 3 && bus.Stats(5).BadFrames >= 3, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(others.Addresses.count(2) == 1 && pages.Addresses.count(1) == 1,
                             30000);
    QCOMPARE(bus.State(4), TBusMeterState::Slow);
    QVERIFY(bus.Stats(4).MedianMs().value_or(0) >= 300);
    QCOMPARE(bus.State(5), TBusMeterState::Slow);
    QCOMPARE(bus.Stats(5).Answered, std::int64_t(0));
    QCOMPARE(bus.Stats(3).Answered, std::int64_t(0));
    QVERIFY(bus.State(1) != TBusMeterState::Offline);
    QCOMPARE(r.Link.BusMeter(2)->SerialNumber(), QStringLiteral("SN-TWO"));
    // The pages heard meter 1 alone; the others' values went to their own stream.
    QCOMPARE(pages.Addresses, std::set<int>{1});
    QCOMPARE(others.Addresses.count(1), std::size_t(0));
    QVERIFY(!r.Metering.Measurement[0].isEmpty());

    // Meter 2 is shown instead, on the same connection.
    QVERIFY(r.Link.SelectMeter(2));
    pages.Addresses.clear();
    others.Addresses.clear();
    QCOMPARE(r.Link.SerialNumber(), QStringLiteral("SN-TWO"));
    QTRY_VERIFY_WITH_TIMEOUT(pages.Addresses.count(2) == 1 && others.Addresses.count(1) == 1,
                             30000);
    QVERIFY(DisconnectLink(r.Link));
    QCOMPARE(pages.Addresses, std::set<int>{2});
    QVERIFY(sim.Requests().contains(QStringLiteral("02,03,14,00,00,15")));
}

QTEST_GUILESS_MAIN(TestFormModbusSim)
#include "tst_formmodbus_sim.moc"
