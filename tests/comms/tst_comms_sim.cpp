// The likely cause, end to end: the link polls the meter simulator made to misbehave in one way
// (silent, at another baud rate, garbling, dropping, answering for another address, lacking a
// register, refusing a value, needing time between queries, bytes ahead of its answers) and the
// monitor must name that cause. Parity cannot be wrong on a pseudo-terminal; the scripted serial
// device garbles it.
#include "comms/CommMonitor.h"
#include "link/frmModbus.h"
#include "modbus/KrChecksum.h"
#include "support/FakeSerialDevice.h"
#include "support/LinkRig.h"
#include "support/SimMeter.h"

#include <QTest>

Q_DECLARE_METATYPE(TVerdictKind)

namespace {

// The monitor's view of the last queries, for failure messages.
QByteArray Describe(const TCommMonitor& m) {
    const TLineSummary s = m.Summary();
    return QStringLiteral("queries %1 answered %2 none %3 bad %4 other %5 ex02 %6 ex04 %7: %8")
        .arg(s.Queries)
        .arg(s.Answered)
        .arg(s.NoResponse)
        .arg(s.BadFrame)
        .arg(s.OtherAddress)
        .arg(s.Exception02)
        .arg(s.Exception04)
        .arg(m.Verdict().Text)
        .toUtf8();
}

struct TRig : TLinkRig {
    TCommMonitor Monitor;
    TRig() { Link.SetTrafficObserver(&Monitor); }
    ~TRig() { Link.SetTrafficObserver(nullptr); }
    bool WaitQueries(int n) {
        return QTest::qWaitFor([&] { return Monitor.Summary().Queries >= n; }, 60000);
    }
};

} // namespace

class TestCommsSim : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")); }
    void verdicts_data();
    void verdicts();
    void timeoutsStopAtLongerInterval();
    void wrongParityGarbles();
};

void TestCommsSim::verdicts_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("address"); // the address the link asks
    QTest::addColumn<QString>("queued");
    QTest::addColumn<TVerdictKind>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("healthy") << QStringList{} << 1 << QString() << TVerdictKind::Healthy
                             << "healthy";
    QTest::newRow("meter at another address") << QStringList{"--address", "2"} << 1 << QString()
                                              << TVerdictKind::NoBytes << "device address";
    QTest::newRow("meter at another baud rate")
        << QStringList{"--baud", "9600"} << 1 << QString() << TVerdictKind::NoBytes << "baud rate";
    QTest::newRow("every answer corrupted") << QStringList{"--fault", "crc=1"} << 1 << QString()
                                            << TVerdictKind::Garbled << "termination";
    QTest::newRow("answers dropped") << QStringList{"--fault", "drop=0.3", "--seed", "11"} << 1
                                     << QString() << TVerdictKind::Intermittent << "without answer";
    QTest::newRow("answers from another address")
        << QStringList{"--address", "2", "--answer-any-address"} << 1 << QString()
        << TVerdictKind::OtherAddress << "address to 2";
    QTest::newRow("register missing")
        << QStringList{"--version-text", "3.05"} << 1 << "00,03,12,08,00,02"
        << TVerdictKind::Exception02 << "lacks a register";
    QTest::newRow("stray bytes before every answer")
        << QStringList{"--fault", "noise=1", "--seed", "3"} << 1 << QString()
        << TVerdictKind::StrayBytes << "second master";
    QTest::newRow("value refused") << QStringList{} << 1 << "00,06,11,0B,01,F4"
                                   << TVerdictKind::Exception04 << "refused a value";
}

void TestCommsSim::verdicts() {
    QFETCH(QStringList, simArgs);
    QFETCH(int, address);
    QFETCH(QString, queued);
    QFETCH(TVerdictKind, kind);
    QFETCH(QString, says);
    TSimMeter sim(simArgs);
    QVERIFY(sim.Started());
    TRig r;
    r.Link.SetDeviceAddress(static_cast<std::uint8_t>(address));
    if (!queued.isEmpty())
        r.Link.AppendQuery(queued.toStdString());
    QVERIFY(ConnectLink(r.Link));
    // Generous where answers come, so an answer the scheduler held up is no time-out; short
    // where nothing ever does.
    Master(r.Link).SetQueryTimeout(kind == TVerdictKind::NoBytes ? 250 : 1000);
    QVERIFY(r.WaitQueries(20));
    QVERIFY2(r.Monitor.Verdict().Kind == kind, Describe(r.Monitor));
    QVERIFY2(r.Monitor.Verdict().Text.contains(says), Describe(r.Monitor));
    const TCommCounters c = r.Monitor.Counters();
    // Every query the link finished is counted once, under exactly one outcome.
    QVERIFY(c.Sent >= 20);
    QVERIFY(c.Sent - (c.Answered + c.Failed() + c.Broadcasts) <= 1);
    if (kind == TVerdictKind::Healthy) {
        const TTimingFigures t = r.Monitor.Timing();
        QVERIFY(t.MedianMs && *t.MedianMs >= 0 && *t.MedianMs < 1000);
        QVERIFY(*t.MinMs <= *t.MedianMs && *t.MedianMs <= *t.P95Ms && *t.P95Ms <= *t.MaxMs);
        QVERIFY(r.Monitor.QueriesPerSecond() > 0);
        QVERIFY(r.Monitor.LineShare() > 0 && r.Monitor.LineShare() < 1);
    }
    QVERIFY(DisconnectLink(r.Link));
}

void TestCommsSim::timeoutsStopAtLongerInterval() {
    // A meter that ignores a query arriving within 60 ms of its last answer.
    TSimMeter sim({"--busy", "60"});
    QVERIFY(sim.Started());
    TRig r;
    QVERIFY(ConnectLink(r.Link));
    Master(r.Link).SetQueryTimeout(250);
    Master(r.Link).SetQueryInterval(0);
    QTRY_VERIFY_WITH_TIMEOUT(r.Monitor.Counters().NoResponse >= 4, 30000);
    QVERIFY2(r.Monitor.Verdict().Kind == TVerdictKind::Intermittent, Describe(r.Monitor));
    Master(r.Link).SetQueryInterval(150);
    QVERIFY(QTest::qWaitFor(
        [&] {
            const TLineSummary s = r.Monitor.Summary();
            const auto at = s.ByInterval.find(150);
            return at != s.ByInterval.end() && at->second.Queries >= 12;
        },
        30000));
    QVERIFY2(r.Monitor.Verdict().Kind == TVerdictKind::IntervalTimeouts, Describe(r.Monitor));
    QVERIFY(r.Monitor.Verdict().Text.contains("to 150 ms"));
    QVERIFY(DisconnectLink(r.Link));
}

void TestCommsSim::wrongParityGarbles() {
    // The meter listens at even parity, the utility sends with none: every answer arrives with
    // parity errors reported and bytes that do not add up.
    auto line = std::make_shared<TFakeLine>();
    TRig r;
    Master(r.Link).SetDeviceFactory([line] { return std::make_unique<TFakeSerialDevice>(line); });
    TLineCounters counters;
    Master(r.Link).WatchSent(
        [&](const std::string&) {
            ++counters.Parity;
            line->Push(TFakeReadStep::NewCounters(counters));
            // A read of 21 registers answered with its bytes bent by the wrong parity.
            std::string answer = std::string("\x01\x03\x2A", 3) + std::string(42, '\x11');
            const std::uint16_t crc = CalcCRC16(answer);
            answer += static_cast<char>((crc & 0xFF) ^ 0x80);
            answer += static_cast<char>(crc >> 8);
            line->Push(TFakeReadStep::Bytes(answer));
        },
        TMaster::TWhen::After);
    QVERIFY(GoOnline(r.Link, {20, 200}));
    QVERIFY(r.WaitQueries(8));
    QVERIFY2(r.Monitor.Verdict().Kind == TVerdictKind::Garbled, Describe(r.Monitor));
    QVERIFY2(r.Monitor.Verdict().Text.contains("parity"), Describe(r.Monitor));
    QVERIFY(r.Monitor.Counters().ParityErrors >= 8);
    QCOMPARE(r.Monitor.Counters().Answered, std::uint64_t(0));
    QVERIFY(DisconnectLink(r.Link));
}

QTEST_GUILESS_MAIN(TestCommsSim)
#include "tst_comms_sim.moc"
