// The timed query cycle against a scripted peer on a pseudo-terminal, on a clock the test
// steps: every schedule is exact in virtual milliseconds, whatever the machine's load. Only the
// bytes themselves travel in real time, and the test waits for their arrival by condition.
#include "ModbusProbe.h"
#include "platform/PortName.h"
#include "support/FakeSerialDevice.h"
#include "support/PtyPeer.h"
#include "support/VirtualClock.h"

#include <QtTest>

#include <map>

namespace {

const std::string Read2 = "01,03,14,00,00,02";
const std::string Read2Answer = WithCrc(Hex("01 03 04 00 01 00 02"));
// Real time allowed for bytes to cross the pseudo-terminal and the serial threads.
constexpr int ArrivalMs = 5000;

// A master on the peer's terminal, on a virtual clock, with every event stamped in virtual ms.
// The peer's answers are scripted in virtual time too: each piece is written when the clock
// reaches its moment, and the clock moves on only once the master has received it.
struct TRig {
    TVirtualClock Clock; // outlives the master's timers
    TPtyPeer Peer;
    TKrModbus M;
    QStringList Log;
    std::vector<std::int64_t> QueryTimes, SendTimes, AfterTimes, FinishTimes;
    std::vector<int> Kinds; // ErrorKind at each OnAfterResponse
    std::string Text = Read2;
    std::string Received;    // every byte the master received
    bool LogTraffic = false; // "send .." and "recv .." lines in Log
    // Pieces of the answer to each frame sent: delay (ms after the piece before, the first
    // after the send) and bytes. Unset: the peer stays silent.
    std::function<std::vector<TPeerReply::TPiece>()> Reply;
    std::function<void(TKrPolling&)> AfterSend;
    std::multimap<std::int64_t, std::string> Due; // pieces not yet written, by moment

    explicit TRig(int baud = 115200) {
        M.SetClock(Clock);
        M.Comm().SetCommName(Peer.Path());
        M.SetBaudrate(baud);
        M.SetParity(TParity::None);
        RecordEvents(M, Log);
        M.OnQueryData = [this](TKrModbus&, std::string& fmt) {
            QueryTimes.push_back(Clock.Now());
            fmt = Text;
        };
        M.OnSendData = [this](TKrPolling& s, const std::string& d) {
            SendTimes.push_back(Clock.Now());
            if (LogTraffic) {
                Log << "send " + QString::fromLatin1(QByteArray::fromStdString(d).toHex(' '));
            }
            ScheduleReply();
            if (AfterSend) {
                AfterSend(s);
            }
        };
        M.OnRecvData = [this](TKrPolling&, const std::string& d) {
            Received += d;
            if (LogTraffic) {
                Log << "recv " + QString::fromLatin1(QByteArray::fromStdString(d).toHex(' '));
            }
        };
        M.OnAfterResponse = [this](TKrModbus& s) {
            AfterTimes.push_back(Clock.Now());
            Kinds.push_back(s.ErrorKind());
            Log << "after";
        };
        M.OnQueryFinish = [this](TKrPolling&) {
            FinishTimes.push_back(Clock.Now());
            Log << "finish";
        };
    }
    void Answer(int delayMs, std::string bytes) {
        Reply = [delayMs, bytes] { return std::vector<TPeerReply::TPiece>{{delayMs, bytes}}; };
    }
    void ScheduleReply() {
        if (!Reply) {
            return;
        }
        std::int64_t at = Clock.Now();
        for (const auto& piece : Reply()) {
            at += piece.DelayMs;
            Due.emplace(at, piece.Bytes);
        }
    }
    // The peer holds every request sent so far. Time moves on only then, as a frame takes
    // its time on a real line: otherwise requests sent in one virtual moment would reach the
    // peer as one burst.
    bool RequestsArrived() {
        return QTest::qWaitFor([&] { return Peer.Requests().size() >= SendTimes.size(); },
                               ArrivalMs);
    }
    // Writes the next due piece and waits until the master has received it.
    bool DeliverNext() {
        const std::string bytes = Due.begin()->second;
        Due.erase(Due.begin());
        const size_t want = Received.size() + bytes.size();
        Peer.Send(bytes);
        return QTest::qWaitFor([&] { return Received.size() >= want; }, ArrivalMs);
    }
    // Moves the clock from event to event (a timer, a piece of an answer; a timer first when
    // both fall on the same moment) until done holds. False when nothing is left to happen,
    // the clock passes limit, or bytes do not arrive.
    bool RunUntil(const std::function<bool()>& done, std::int64_t limit = 60000) {
        while (!done()) {
            if (!RequestsArrived()) {
                return false;
            }
            const auto timer = Clock.NextDeadline();
            if (!Due.empty() && (!timer || Due.begin()->first < *timer)) {
                Clock.AdvanceTo(std::max(Due.begin()->first, Clock.Now()));
                if (!DeliverNext()) {
                    return false;
                }
            } else if (timer) {
                Clock.AdvanceTo(*timer);
            } else {
                return false;
            }
            if (Clock.Now() > limit) {
                return false;
            }
        }
        return true;
    }
    bool RunToFinish() {
        return RunUntil([this] { return !FinishTimes.empty(); });
    }
    // Lets virtual time pass, answers included, up to ms from now.
    bool RunFor(std::int64_t ms) {
        const std::int64_t end = Clock.Now() + ms;
        const bool ok = RunUntil(
            [&] {
                const auto timer = Clock.NextDeadline();
                return (!timer || *timer > end) && (Due.empty() || Due.begin()->first > end);
            },
            end);
        Clock.AdvanceTo(end);
        return ok;
    }
};

using TTimes = std::vector<std::int64_t>;

} // namespace

class TestKrPollingCycle : public QObject {
    Q_OBJECT

private slots:
    void eventOrderOfOneQuery();
    void sendCadence();
    void timeoutPath();
    void fastPollingLooksAfterSendTime_data();
    void fastPollingLooksAfterSendTime();
    void completeResponseEndsWaitEarly();
    void exceptionDeliveredAtTimeout();
    void nullQuery_data();
    void nullQuery();
    void broadcastWaitsForNothing();
    void responseInPiecesAndAfterNoise_data();
    void responseInPiecesAndAfterNoise();
    void stopFinishesCurrentQuery();
    void cancelEndsAtOnce();
    void cancelLeavesGapTimer();
    void staleGapTickIgnoredAfterRestart();
    void startWhileRunningOnlySwitchesContinuous();
    void lineErrorGivesBadFrame_data();
    void lineErrorGivesBadFrame();
    void portNumChangeClosesPort();
    void openFailureAndReopen();
    void refusedWriteEndsAtTimeout();
    void cancelOrCloseInsideResponseEvent_data();
    void cancelOrCloseInsideResponseEvent();
    void restartInsideResponseEvent();
};

void TestKrPollingCycle::eventOrderOfOneQuery() {
    TRig r;
    r.LogTraffic = true;
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.QueryTimes.size(), size_t(1));
    QCOMPARE(r.Log.first(), QString("send 01 03 14 00 00 02 c1 fb"));
    QCOMPARE(r.Log.mid(r.Log.size() - 3), (QStringList{"F03 1 5120 [1,2]", "after", "finish"}));
    // Everything between the send and the response event is received data.
    const QString received = r.Log.mid(1, r.Log.size() - 4).join(' ').remove("recv ");
    QCOMPARE(received, QString("01 03 04 00 01 00 02 2a 32"));
    // SendTime 1, then the rest of the query interval, then the 1 ms finishing tick.
    QCOMPARE(r.AfterTimes, TTimes{21});
    QCOMPARE(r.FinishTimes, TTimes{21});
    QVERIFY(!r.M.Running());
    QVERIFY(r.M.Opened());
    QCOMPARE(r.Peer.Requests().size(), size_t(1));
}

void TestKrPollingCycle::sendCadence() {
    TRig r;
    r.M.SetQueryInterval(100);
    r.M.SetFrameInterval(10);
    r.Answer(20, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.SendTimes.size() >= 5; }));
    r.M.Stop();
    QVERIFY(r.RunToFinish());
    // 115200 baud, 8-byte request: SendTime 1, FrameGap 0, so the pause is FrameInterval 10.
    QCOMPARE(r.M.SendTime(), 1);
    QCOMPARE(r.M.FrameGap(), 0);
    // Looked at QueryInterval - 10 after the send, 1 ms to finish, 10 ms gap: 101 ms a period.
    QCOMPARE(r.SendTimes, (TTimes{0, 101, 202, 303, 404}));
    QCOMPARE(r.AfterTimes, (TTimes{91, 192, 293, 394, 495}));
    QCOMPARE(r.FinishTimes, TTimes{495});
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0, 0, 0, 0}));
}

void TestKrPollingCycle::timeoutPath() {
    TRig r;
    r.M.SetQueryInterval(50);
    r.M.SetFrameInterval(10);
    r.M.SetQueryTimeout(250);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Log, (QStringList{"error 1", "after", "finish"}));
    // Given up QueryTimeout - FrameInterval after the send, plus the 1 ms finishing tick.
    QCOMPARE(r.SendTimes, TTimes{0});
    QCOMPARE(r.AfterTimes, TTimes{241});
    QTRY_COMPARE_WITH_TIMEOUT(r.Peer.Requests().size(), size_t(1), ArrivalMs);
}

void TestKrPollingCycle::fastPollingLooksAfterSendTime_data() {
    QTest::addColumn<int>("peerDelay");
    QTest::addColumn<int>("look");
    QTest::newRow("answer at once: looked at after SendTime") << 0 << 14;
    QTest::newRow("answer later: taken when complete") << 40 << 41;
}

void TestKrPollingCycle::fastPollingLooksAfterSendTime() {
    QFETCH(int, peerDelay);
    QFETCH(int, look);
    TRig r(9600); // 8-byte request: SendTime 13, FrameGap 4
    r.M.SetQueryInterval(0);
    r.M.SetFrameInterval(0);
    r.M.SetQueryTimeout(3000);
    r.Answer(peerDelay, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.AfterTimes.size() >= 4; }));
    r.M.Stop();
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.M.SendTime(), 13);
    QCOMPARE(r.M.FrameGap(), 4);
    for (size_t i = 0; i < 4; ++i) {
        QCOMPARE(r.AfterTimes[i] - r.SendTimes[i], std::int64_t(look));
        QCOMPARE(r.Kinds[i], 0);
        // The next send follows the frame gap, not a query interval.
        QCOMPARE(r.SendTimes[i + 1] - r.AfterTimes[i], std::int64_t(4));
    }
}

void TestKrPollingCycle::completeResponseEndsWaitEarly() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(2000);
    r.Answer(120, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Kinds, std::vector<int>{0});
    // Complete at 120, long after the look at 30: processed at the next tick, not at 2000.
    QCOMPARE(r.AfterTimes, TTimes{121});
}

void TestKrPollingCycle::exceptionDeliveredAtTimeout() {
    TRig r;
    r.M.SetQueryInterval(50);
    r.M.SetFrameInterval(10);
    r.M.SetQueryTimeout(300);
    r.Answer(5, WithCrc(Hex("01 83 02")));
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Log, (QStringList{"fex 1 3 2", "after", "finish"}));
    // An exception is shorter than the expected response, so only the time-out ends the query.
    QCOMPARE(r.AfterTimes, TTimes{291});
}

void TestKrPollingCycle::nullQuery_data() {
    QTest::addColumn<bool>("ignore");
    QTest::addColumn<int>("sent");
    QTest::newRow("ignored: nothing sent") << true << 0;
    QTest::newRow("not ignored: the zero byte goes out") << false << 1;
}

void TestKrPollingCycle::nullQuery() {
    QFETCH(bool, ignore);
    QFETCH(int, sent);
    TRig r;
    r.Text = std::string(1, '\0');
    r.M.SetIgnoreNullQuery(ignore);
    r.M.SetQueryInterval(40);
    r.M.SetFrameInterval(5);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.QueryTimes.size() >= 5; }));
    r.M.Stop();
    QVERIFY(r.RunToFinish());
    QVERIFY(r.RunFor(1000));
    QVERIFY(!r.Log.contains("error 1"));
    QCOMPARE(r.Log.count("after"), int(r.QueryTimes.size()));
    QCOMPARE(r.SendTimes.empty(), sent == 0);
    if (sent == 0) {
        QCOMPARE(r.Peer.Requests().size(), size_t(0));
    } else {
        // Each zero byte goes out on its own.
        QCOMPARE(r.Peer.Requests(), std::vector<std::string>(5, std::string(1, '\0')));
    }
    // Polling keeps asking at the query interval's pace: looked at after 40 - 5, finished 1 ms
    // later, asked again after the 5 ms gap.
    QCOMPARE(r.QueryTimes, (TTimes{0, 41, 82, 123, 164}));
}

void TestKrPollingCycle::broadcastWaitsForNothing() {
    TRig r;
    r.Text = "00,06,00,01,00,02";
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(2000);
    r.Answer(0, WithCrc(Hex("00 06 00 01 00 02")));
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Log, (QStringList{"after", "finish"}));
    // Finished at the first look, not at the time-out.
    QCOMPARE(r.AfterTimes, TTimes{31});
    QCOMPARE(r.Peer.Requests().size(), size_t(1));
}

void TestKrPollingCycle::responseInPiecesAndAfterNoise_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("pause");
    QTest::addColumn<int>("after");
    const QByteArray answer = QByteArray::fromStdString(Read2Answer);
    // Complete before the look at 30: processed then.
    QTest::newRow("split with a pause") << answer.left(4) << answer.mid(4) << 12 << 31;
    QTest::newRow("noise ahead") << QByteArray::fromStdString(Hex("AA 55 FE")) << answer << 12
                                 << 31;
    // More noise than the whole answer, in a burst before it and before the response is first
    // looked at; the answer only after that look. Only the answer's head starts the count, so
    // the query ends when the answer is complete, at 82.
    QTest::newRow("noise longer than the answer")
        << QByteArray::fromStdString(Hex("AA 55 FE 33 44 55 66 77 88 99")) << answer << 80 << 83;
    QTest::newRow("noise in a burst of its own")
        << QByteArray::fromStdString(Hex("00 FF")) << answer << 12 << 31;
}

void TestKrPollingCycle::responseInPiecesAndAfterNoise() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, pause);
    QFETCH(int, after);
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(1000);
    r.Reply = [&] {
        return std::vector<TPeerReply::TPiece>{{2, first.toStdString()},
                                               {pause, second.toStdString()}};
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Log, (QStringList{"F03 1 5120 [1,2]", "after", "finish"}));
    QCOMPARE(r.M.RecvBuffer(), (first + second).toStdString());
    QCOMPARE(r.AfterTimes, TTimes{after});
}

void TestKrPollingCycle::stopFinishesCurrentQuery() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetFrameInterval(5);
    r.Answer(5, Read2Answer);
    r.AfterSend = [&r](TKrPolling& s) {
        if (r.SendTimes.size() == 2) {
            s.Stop();
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunToFinish());
    QVERIFY(r.RunFor(1000));
    // The second query, stopped while it was sent, still runs its course; then polling ends.
    QCOMPARE(r.QueryTimes, (TTimes{0, 31}));
    QCOMPARE(r.AfterTimes, (TTimes{26, 57}));
    QCOMPARE(r.FinishTimes, TTimes{57});
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0}));
    QCOMPARE(r.Log.last(), QString("finish"));
    QVERIFY(!r.M.Running());
    QVERIFY(r.M.Opened());
}

void TestKrPollingCycle::cancelEndsAtOnce() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetFrameInterval(5);
    r.Answer(5, Read2Answer);
    r.AfterSend = [&r](TKrPolling& s) {
        if (r.SendTimes.size() == 2) {
            s.Cancel();
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.SendTimes.size() == 2; }));
    QVERIFY(r.RunFor(1000));
    // The second query is dropped: no response events, no finish, no timer left.
    QCOMPARE(r.Kinds, std::vector<int>{0});
    QCOMPARE(r.FinishTimes.size(), size_t(0));
    QCOMPARE(r.QueryTimes, (TTimes{0, 31}));
    QVERIFY(!r.Clock.NextDeadline());
    QVERIFY(!r.M.Running());
}

void TestKrPollingCycle::cancelLeavesGapTimer() {
    TRig r;
    r.M.SetQueryInterval(20);
    r.M.SetFrameInterval(80);
    r.M.SetQueryTimeout(500);
    r.Answer(0, Read2Answer);
    // Cancelled 20 ms after the first response, while the 80 ms gap timer runs.
    auto cancel = r.Clock.CreateTimer([&r] { r.M.Cancel(); });
    r.M.OnAfterResponse = [&](TKrModbus&) {
        r.AfterTimes.push_back(r.Clock.Now());
        cancel->Start(20);
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.QueryTimes.size() == 2; }));
    QVERIFY(r.RunFor(1000));
    // The gap timer still started a query: asked, sent, then stopped at its first step.
    QCOMPARE(r.AfterTimes, TTimes{2});
    QCOMPARE(r.QueryTimes, (TTimes{0, 82}));
    QTRY_COMPARE_WITH_TIMEOUT(r.Peer.Requests().size(), size_t(2), ArrivalMs);
    QCOMPARE(r.AfterTimes.size(), size_t(1));
    QCOMPARE(r.FinishTimes.size(), size_t(0));
    QVERIFY(!r.M.Running());
}

void TestKrPollingCycle::staleGapTickIgnoredAfterRestart() {
    TRig r;
    r.M.SetQueryInterval(200);
    r.M.SetFrameInterval(80);
    r.M.SetQueryTimeout(1000);
    r.Answer(0, Read2Answer);
    // 20 ms after the first response (at 121), while its gap timer runs until 201: polling is
    // cancelled and started again.
    auto restart = r.Clock.CreateTimer([&r] {
        r.M.Cancel();
        r.M.Start(true);
    });
    r.M.OnAfterResponse = [&](TKrModbus& s) {
        r.AfterTimes.push_back(r.Clock.Now());
        r.Kinds.push_back(s.ErrorKind());
        if (r.AfterTimes.size() == 1) {
            restart->Start(20);
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.AfterTimes.size() == 2; }));
    // Only the restart's own query: the old gap tick at 201 must not start a second one in the
    // middle of it.
    QCOMPARE(r.QueryTimes, (TTimes{0, 141}));
    QCOMPARE(r.AfterTimes, (TTimes{121, 262}));
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0}));
    r.M.Close();
}

void TestKrPollingCycle::startWhileRunningOnlySwitchesContinuous() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.Answer(0, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.M.Start(false)); // no second query; the cycle now ends after this one
    QVERIFY(r.RunToFinish());
    QVERIFY(r.RunFor(1000));
    QCOMPARE(r.QueryTimes, TTimes{0});
    QCOMPARE(r.FinishTimes, TTimes{31});
}

void TestKrPollingCycle::lineErrorGivesBadFrame_data() {
    QTest::addColumn<bool>("frameError");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("clean line") << false << QStringList{"F03 1 5120 [1,2]", "after"};
    QTest::newRow("framing error") << true << QStringList{"error 2", "after"};
}

void TestKrPollingCycle::lineErrorGivesBadFrame() {
    QFETCH(bool, frameError);
    QFETCH(QStringList, events);
    TVirtualClock clock;
    auto line = std::make_shared<TFakeLine>();
    TKrModbus m;
    m.SetClock(clock);
    m.Comm().SetDeviceFactory([line] { return std::make_unique<TFakeSerialDevice>(line); });
    m.SetQueryInterval(120);
    QStringList log;
    RecordEvents(m, log);
    bool finished = false;
    m.OnQueryFinish = [&finished](TKrPolling&) { finished = true; };
    m.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = Read2; };
    m.OnSendData = [&](TKrPolling&, const std::string&) {
        if (frameError) {
            TLineCounters counters;
            counters.Frame = 1;
            line->Push(TFakeReadStep::NewCounters(counters));
        }
        line->Push(TFakeReadStep::Bytes(Read2Answer));
    };
    QVERIFY(m.Open());
    QVERIFY(m.Start(false));
    // The error and the answer reach the master before it first looks: at 9600 baud after
    // SendTime 13 and the rest of the query interval, 120 - 4, then 1 ms to finish.
    QTRY_VERIFY_WITH_TIMEOUT(m.RecvBuffer() == Read2Answer && m.LineError() == frameError,
                             ArrivalMs);
    clock.Advance(116);
    QVERIFY(!finished);
    clock.Advance(1);
    QVERIFY(finished);
    QCOMPARE(log, events);
    QCOMPARE(m.LineError(), frameError);
    QCOMPARE(line->Written(), WithCrc(Hex("01 03 14 00 00 02")));
}

void TestKrPollingCycle::portNumChangeClosesPort() {
    TRig r;
    // COM3 of this user is the peer's terminal.
    const QString map = QString::fromStdString(PortMapDir());
    QVERIFY(QDir().mkpath(map));
    QFile::remove(map + "/COM3");
    QVERIFY(QFile::link(QString::fromStdString(r.Peer.Path()), map + "/COM3"));
    r.M.SetPortNum(3);
    QCOMPARE(r.M.Comm().CommName(), std::string("\\\\.\\COM3"));
    QCOMPARE(int(r.M.PortNum()), 3);
    QVERIFY(r.M.Open());
    r.M.SetPortNum(3); // the same port: stays open
    QVERIFY(r.M.Opened());
    r.M.SetPortNum(4);
    QVERIFY(!r.M.Opened());
    QVERIFY(r.M.Comm().IsOpen() == false);
}

void TestKrPollingCycle::openFailureAndReopen() {
    TRig r;
    QVERIFY(!r.M.Reopen()); // not open
    QVERIFY(r.Clock.Sleeps().empty());
    r.M.Comm().SetCommName("/nonexistent/ttyX");
    QVERIFY(!r.M.Open());
    QCOMPARE(r.M.OpenErrorText(), std::string("Error opening serial port"));
    QCOMPARE(r.M.OpenSystemError(), ENOENT);

    r.M.Comm().SetCommName(r.Peer.Path());
    QVERIFY(r.M.Open());
    QVERIFY(r.M.OpenErrorText().empty());
    QVERIFY(r.M.Open()); // already open: stays open
    QVERIFY(r.M.Reopen());
    QVERIFY(r.M.Opened());
    // The device is given its 500 ms between closing and opening.
    QCOMPARE(r.Clock.Sleeps(), std::vector<int>{500});
    QCOMPARE(r.Clock.Now(), std::int64_t(500));
    // The reopened port carries queries.
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    QVERIFY(r.M.Start(false));
    QVERIFY(r.RunToFinish());
    QCOMPARE(r.Kinds, std::vector<int>{0});

    // A reopen that fails leaves the master closed, and says so.
    r.M.Comm().SetCommName("/nonexistent/ttyX");
    QVERIFY(!r.M.Reopen());
    QVERIFY(!r.M.Opened());
    QVERIFY(!r.M.Comm().IsOpen());
    QVERIFY(!r.M.Start(true));
}

void TestKrPollingCycle::refusedWriteEndsAtTimeout() {
    // Sees the hang-up the writer reports when its write fails.
    struct TMaster : TKrModbus {
        int Hangups = 0;
        void CommRequestHangup() override { ++Hangups; }
    };
    TVirtualClock clock;
    auto line = std::make_shared<TFakeLine>();
    // The first write kills the writer; the port stays open, and later writes are refused.
    line->PushWriteFailure(TIoStatus::Fatal);
    TMaster m;
    m.SetClock(clock);
    m.Comm().SetDeviceFactory([line] { return std::make_unique<TFakeSerialDevice>(line); });
    m.SetQueryInterval(20);
    m.SetQueryTimeout(150);
    int sent = 0;
    std::vector<std::int64_t> after;
    std::vector<int> kinds;
    m.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = Read2; };
    m.OnSendData = [&sent](TKrPolling&, const std::string&) { ++sent; };
    m.OnAfterResponse = [&](TKrModbus& s) {
        after.push_back(clock.Now());
        kinds.push_back(s.ErrorKind());
        if (kinds.size() == 2) {
            s.Stop();
        }
    };
    bool finished = false;
    m.OnQueryFinish = [&finished](TKrPolling&) { finished = true; };
    QVERIFY(m.Open());
    QVERIFY(m.Start(true));
    QTRY_COMPARE_WITH_TIMEOUT(m.Hangups, 1, ArrivalMs);
    clock.Advance(1000);
    QVERIFY(finished);
    // Only the write that was accepted is reported as sent; both queries end without answer,
    // each at the time-out. The default 9600 baud gives a frame gap of 4 ms between them.
    QCOMPARE(sent, 1);
    QCOMPARE(kinds, (std::vector<int>{1, 1}));
    QCOMPARE(after, (std::vector<std::int64_t>{147, 298}));
    QVERIFY(m.Opened());
}

void TestKrPollingCycle::cancelOrCloseInsideResponseEvent_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("cancel") << false;
    QTest::newRow("close") << true;
}

void TestKrPollingCycle::cancelOrCloseInsideResponseEvent() {
    QFETCH(bool, close);
    TRig r;
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    r.M.OnF03Response = [close](TKrModbus& s, uint8_t, uint16_t, std::span<const uint16_t>) {
        if (close) {
            s.Close();
        } else {
            s.Cancel();
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunUntil([&] { return r.AfterTimes.size() == 1; }));
    QVERIFY(r.RunFor(1000));
    // Ended at once: the query still closes with OnAfterResponse, but no finish and no next query.
    QCOMPARE(r.FinishTimes.size(), size_t(0));
    QCOMPARE(r.QueryTimes.size(), size_t(1));
    QVERIFY(!r.Clock.NextDeadline());
    QVERIFY(!r.M.Running());
    QCOMPARE(r.M.Opened(), !close);
}

void TestKrPollingCycle::restartInsideResponseEvent() {
    TRig r;
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    int responses = 0;
    r.M.OnF03Response = [&responses](TKrModbus& s, uint8_t, uint16_t, std::span<const uint16_t>) {
        if (++responses == 1) {
            // Polling begins anew from inside the event: the new query must run its course.
            s.Cancel();
            s.Start(false);
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QVERIFY(r.RunToFinish());
    QVERIFY(r.RunFor(1000));
    // The new query is sent from inside the first one's processing at 21 and ends at 42.
    QCOMPARE(r.QueryTimes, (TTimes{0, 21}));
    QCOMPARE(r.AfterTimes, (TTimes{21, 42}));
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0}));
    QCOMPARE(r.Log.last(), QString("finish"));
    QCOMPARE(r.FinishTimes, TTimes{42});
    QVERIFY(!r.M.Running());
}

QTEST_GUILESS_MAIN(TestKrPollingCycle)
#include "tst_krpolling_cycle.moc"
