// The timed query cycle against a scripted peer on a pseudo-terminal, with shrunken intervals.
// Bounds on times are one-sided where the schedule promises a minimum and generous where the
// machine's load decides.
#include "ModbusProbe.h"
#include "platform/PortName.h"
#include "support/FakeSerialDevice.h"
#include "support/PtyPeer.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const std::string Read2 = "01,03,14,00,00,02";
const std::string Read2Answer = WithCrc(Hex("01 03 04 00 01 00 02"));

// A master on the peer's terminal with every event time-stamped.
struct TRig {
    TPtyPeer Peer;
    TKrModbus M;
    QStringList Log;
    QElapsedTimer Clock;
    std::vector<qint64> QueryTimes, SendTimes, AfterTimes, FinishTimes;
    std::vector<int> Kinds; // ErrorKind at each OnAfterResponse
    std::string Text = Read2;

    explicit TRig(int baud = 115200) {
        M.Comm().SetCommName(Peer.Path());
        M.SetBaudrate(baud);
        M.SetParity(TParity::None);
        RecordEvents(M, Log);
        M.OnQueryData = [this](TKrModbus&, std::string& fmt) {
            QueryTimes.push_back(Clock.elapsed());
            fmt = Text;
        };
        M.OnSendData = [this](TKrPolling&, const std::string&) {
            SendTimes.push_back(Clock.elapsed());
        };
        M.OnAfterResponse = [this](TKrModbus& s) {
            AfterTimes.push_back(Clock.elapsed());
            Kinds.push_back(s.ErrorKind());
            Log << "after";
        };
        M.OnQueryFinish = [this](TKrPolling&) {
            FinishTimes.push_back(Clock.elapsed());
            Log << "finish";
        };
        Clock.start();
    }
    void Answer(int delayMs, std::string bytes) {
        Peer.Responder = [delayMs, bytes](const std::string&) {
            return TPeerReply::After(delayMs, bytes);
        };
    }
};

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
    r.M.OnRecvData = [&r](TKrPolling&, const std::string& d) {
        r.Log << "recv " + QString::fromLatin1(QByteArray::fromStdString(d).toHex(' '));
    };
    r.M.OnSendData = [&r](TKrPolling&, const std::string& d) {
        r.Log << "send " + QString::fromLatin1(QByteArray::fromStdString(d).toHex(' '));
    };
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.QueryTimes.size(), size_t(1));
    QCOMPARE(r.Log.first(), QString("send 01 03 14 00 00 02 c1 fb"));
    QCOMPARE(r.Log.mid(r.Log.size() - 3), (QStringList{"F03 1 5120 [1,2]", "after", "finish"}));
    // Everything between the send and the response event is received data.
    const QString received = r.Log.mid(1, r.Log.size() - 4).join(' ').remove("recv ");
    QCOMPARE(received, QString("01 03 04 00 01 00 02 2a 32"));
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
    QTRY_VERIFY_WITH_TIMEOUT(r.SendTimes.size() >= 5, 5000);
    r.M.Stop();
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    // 115200 baud, 8-byte request: SendTime 1, FrameGap 0, so the pause is FrameInterval 10.
    QCOMPARE(r.M.SendTime(), 1);
    QCOMPARE(r.M.FrameGap(), 0);
    // Looked at QueryInterval - 10 after the send, 1 ms to finish, 10 ms gap: 101 ms a period.
    for (size_t i = 1; i < r.SendTimes.size(); ++i) {
        const qint64 period = r.SendTimes[i] - r.SendTimes[i - 1];
        QVERIFY2(period >= 100 && period <= 160, qPrintable(QString::number(period)));
    }
    for (size_t i = 0; i < r.SendTimes.size() && i < r.AfterTimes.size(); ++i) {
        const qint64 look = r.AfterTimes[i] - r.SendTimes[i];
        QVERIFY2(look >= 90 && look <= 150, qPrintable(QString::number(look)));
        QCOMPARE(r.Kinds[i], 0);
    }
}

void TestKrPollingCycle::timeoutPath() {
    TRig r;
    r.M.SetQueryInterval(50);
    r.M.SetFrameInterval(10);
    r.M.SetQueryTimeout(250);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Log, (QStringList{"error 1", "after", "finish"}));
    // Given up QueryTimeout - FrameInterval after the send, plus the 1 ms finishing tick.
    const qint64 waited = r.AfterTimes[0] - r.SendTimes[0];
    QVERIFY2(waited >= 240 && waited <= 330, qPrintable(QString::number(waited)));
    QCOMPARE(r.Peer.Requests().size(), size_t(1));
}

void TestKrPollingCycle::fastPollingLooksAfterSendTime_data() {
    QTest::addColumn<int>("peerDelay");
    QTest::addColumn<int>("least");
    QTest::newRow("answer at once: looked at after SendTime") << 0 << 13;
    QTest::newRow("answer later: taken when complete") << 40 << 40;
}

void TestKrPollingCycle::fastPollingLooksAfterSendTime() {
    QFETCH(int, peerDelay);
    QFETCH(int, least);
    TRig r(9600); // 8-byte request: SendTime 13, FrameGap 4
    r.M.SetQueryInterval(0);
    r.M.SetFrameInterval(0);
    r.M.SetQueryTimeout(3000);
    r.Answer(peerDelay, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QTRY_VERIFY_WITH_TIMEOUT(r.AfterTimes.size() >= 4, 5000);
    r.M.Stop();
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.M.SendTime(), 13);
    QCOMPARE(r.M.FrameGap(), 4);
    for (size_t i = 0; i < 4; ++i) {
        const qint64 look = r.AfterTimes[i] - r.SendTimes[i];
        QVERIFY2(look >= least && look <= least + 60, qPrintable(QString::number(look)));
        QCOMPARE(r.Kinds[i], 0);
        // The next send follows the frame gap, not a query interval.
        const qint64 gap = r.SendTimes[i + 1] - r.AfterTimes[i];
        QVERIFY2(gap >= 3 && gap <= 50, qPrintable(QString::number(gap)));
    }
}

void TestKrPollingCycle::completeResponseEndsWaitEarly() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(2000);
    r.Answer(120, Read2Answer);
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Kinds, std::vector<int>{0});
    const qint64 waited = r.AfterTimes[0] - r.SendTimes[0];
    QVERIFY2(waited >= 120 && waited < 600, qPrintable(QString::number(waited)));
}

void TestKrPollingCycle::exceptionDeliveredAtTimeout() {
    TRig r;
    r.M.SetQueryInterval(50);
    r.M.SetFrameInterval(10);
    r.M.SetQueryTimeout(300);
    r.Answer(5, WithCrc(Hex("01 83 02")));
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Log, (QStringList{"fex 1 3 2", "after", "finish"}));
    // An exception is shorter than the expected response, so only the time-out ends the query.
    const qint64 waited = r.AfterTimes[0] - r.SendTimes[0];
    QVERIFY2(waited >= 290 && waited <= 380, qPrintable(QString::number(waited)));
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
    QTRY_VERIFY_WITH_TIMEOUT(r.QueryTimes.size() >= 5, 3000);
    r.M.Stop();
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QTest::qWait(20);
    QVERIFY(!r.Log.contains("error 1"));
    QCOMPARE(r.Log.count("after"), int(r.QueryTimes.size()));
    QCOMPARE(r.SendTimes.empty(), sent == 0);
    if (sent == 0) {
        QCOMPARE(r.Peer.Requests().size(), size_t(0));
    } else {
        QVERIFY(!r.Peer.Requests().empty());
        QCOMPARE(r.Peer.Requests().front(), std::string(1, '\0'));
    }
    // Polling keeps asking at the query interval's pace.
    for (size_t i = 1; i < r.QueryTimes.size(); ++i) {
        const qint64 period = r.QueryTimes[i] - r.QueryTimes[i - 1];
        QVERIFY2(period >= 40 && period <= 100, qPrintable(QString::number(period)));
    }
}

void TestKrPollingCycle::broadcastWaitsForNothing() {
    TRig r;
    r.Text = "00,06,00,01,00,02";
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(2000);
    r.Answer(0, WithCrc(Hex("00 06 00 01 00 02")));
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Log, (QStringList{"after", "finish"}));
    QVERIFY(r.AfterTimes[0] - r.SendTimes[0] < 500);
    QCOMPARE(r.Peer.Requests().size(), size_t(1));
}

void TestKrPollingCycle::responseInPiecesAndAfterNoise_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("pause");
    const QByteArray answer = QByteArray::fromStdString(Read2Answer);
    QTest::newRow("split with a pause") << answer.left(4) << answer.mid(4) << 12;
    QTest::newRow("noise ahead") << QByteArray::fromStdString(Hex("AA 55 FE")) << answer << 12;
    // More noise than the whole answer, in a burst before it and before the response is first
    // looked at; the answer only after that look. Only the answer's head starts the count.
    QTest::newRow("noise longer than the answer")
        << QByteArray::fromStdString(Hex("AA 55 FE 33 44 55 66 77 88 99")) << answer << 80;
    QTest::newRow("noise in a burst of its own")
        << QByteArray::fromStdString(Hex("00 FF")) << answer << 12;
}

void TestKrPollingCycle::responseInPiecesAndAfterNoise() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, pause);
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetQueryTimeout(1000);
    r.Peer.Responder = [&](const std::string&) {
        TPeerReply reply;
        reply.Pieces.push_back({2, first.toStdString()});
        reply.Pieces.push_back({pause, second.toStdString()});
        return reply;
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Log, (QStringList{"F03 1 5120 [1,2]", "after", "finish"}));
    QCOMPARE(r.M.RecvBuffer(), (first + second).toStdString());
    // Complete well before the time-out.
    QVERIFY(r.AfterTimes[0] - r.SendTimes[0] < 500);
}

void TestKrPollingCycle::stopFinishesCurrentQuery() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetFrameInterval(5);
    r.Answer(5, Read2Answer);
    r.M.OnSendData = [&r](TKrPolling& s, const std::string&) {
        r.SendTimes.push_back(r.Clock.elapsed());
        if (r.SendTimes.size() == 2) {
            s.Stop();
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QTest::qWait(100);
    QCOMPARE(r.QueryTimes.size(), size_t(2));
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0}));
    QCOMPARE(r.FinishTimes.size(), size_t(1));
    QCOMPARE(r.Log.last(), QString("finish"));
    QVERIFY(!r.M.Running());
    QVERIFY(r.M.Opened());
}

void TestKrPollingCycle::cancelEndsAtOnce() {
    TRig r;
    r.M.SetQueryInterval(30);
    r.M.SetFrameInterval(5);
    r.Answer(5, Read2Answer);
    r.M.OnSendData = [&r](TKrPolling& s, const std::string&) {
        r.SendTimes.push_back(r.Clock.elapsed());
        if (r.SendTimes.size() == 2) {
            s.Cancel();
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QTRY_COMPARE_WITH_TIMEOUT(r.SendTimes.size(), size_t(2), 3000);
    QTest::qWait(150);
    // The second query is dropped: no response events, no finish.
    QCOMPARE(r.Kinds, std::vector<int>{0});
    QCOMPARE(r.FinishTimes.size(), size_t(0));
    QCOMPARE(r.QueryTimes.size(), size_t(2));
    QVERIFY(!r.M.Running());
}

void TestKrPollingCycle::cancelLeavesGapTimer() {
    TRig r;
    r.M.SetQueryInterval(20);
    r.M.SetFrameInterval(80);
    r.M.SetQueryTimeout(500);
    r.Answer(0, Read2Answer);
    r.M.OnAfterResponse = [&r](TKrModbus&) {
        r.AfterTimes.push_back(r.Clock.elapsed());
        // Cancelled while the gap timer runs.
        QTimer::singleShot(20, [&r] { r.M.Cancel(); });
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QTRY_COMPARE_WITH_TIMEOUT(r.QueryTimes.size(), size_t(2), 3000);
    QTest::qWait(300);
    // The gap timer still started a query: asked, sent, then stopped at its first step.
    QCOMPARE(r.QueryTimes.size(), size_t(2));
    QCOMPARE(r.Peer.Requests().size(), size_t(2));
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
    qint64 restartedAt = -1;
    r.M.OnAfterResponse = [&](TKrModbus& s) {
        r.AfterTimes.push_back(r.Clock.elapsed());
        r.Kinds.push_back(s.ErrorKind());
        if (r.AfterTimes.size() == 1) {
            QTimer::singleShot(20, [&] {
                r.M.Cancel();
                restartedAt = r.Clock.elapsed();
                r.M.Start(true);
            });
        }
    };
    QVERIFY(r.M.Open());
    QVERIFY(r.M.Start(true));
    QTRY_VERIFY_WITH_TIMEOUT(restartedAt >= 0, 3000);
    QTest::qWait(150);
    // Only the restart's own query: the old gap tick (due 60 ms after the restart) must not
    // start a second one in the middle of it.
    QCOMPARE(r.QueryTimes.size(), size_t(2));
    QTRY_COMPARE_WITH_TIMEOUT(r.AfterTimes.size(), size_t(2), 3000);
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
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.QueryTimes.size(), size_t(1));
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
    auto line = std::make_shared<TFakeLine>();
    TKrModbus m;
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
    QTRY_VERIFY_WITH_TIMEOUT(finished, 3000);
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
    r.M.SetReopenWait(10);
    QVERIFY(!r.M.Reopen()); // not open
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
    // The reopened port carries queries.
    r.M.SetQueryInterval(20);
    r.Answer(0, Read2Answer);
    QVERIFY(r.M.Start(false));
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QCOMPARE(r.Kinds, std::vector<int>{0});

    // A reopen that fails leaves the master closed, and says so.
    r.M.Comm().SetCommName("/nonexistent/ttyX");
    QVERIFY(!r.M.Reopen());
    QVERIFY(!r.M.Opened());
    QVERIFY(!r.M.Comm().IsOpen());
    QVERIFY(!r.M.Start(true));
}

void TestKrPollingCycle::refusedWriteEndsAtTimeout() {
    auto line = std::make_shared<TFakeLine>();
    // The first write kills the writer; the port stays open, and later writes are refused.
    line->PushWriteFailure(TIoStatus::Fatal);
    TKrModbus m;
    m.Comm().SetDeviceFactory([line] { return std::make_unique<TFakeSerialDevice>(line); });
    m.SetQueryInterval(20);
    m.SetQueryTimeout(150);
    int sent = 0;
    std::vector<int> kinds;
    m.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = Read2; };
    m.OnSendData = [&sent](TKrPolling&, const std::string&) { ++sent; };
    m.OnAfterResponse = [&kinds](TKrModbus& s) {
        kinds.push_back(s.ErrorKind());
        if (kinds.size() == 2) {
            s.Stop();
        }
    };
    bool finished = false;
    m.OnQueryFinish = [&finished](TKrPolling&) { finished = true; };
    QVERIFY(m.Open());
    QVERIFY(m.Start(true));
    QTRY_VERIFY_WITH_TIMEOUT(finished, 3000);
    // Only the write that was accepted is reported as sent; both queries end without answer.
    QCOMPARE(sent, 1);
    QCOMPARE(kinds, (std::vector<int>{1, 1}));
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
    QTRY_COMPARE_WITH_TIMEOUT(r.AfterTimes.size(), size_t(1), 3000);
    QTest::qWait(100);
    // Ended at once: the query still closes with OnAfterResponse, but no finish and no next query.
    QCOMPARE(r.FinishTimes.size(), size_t(0));
    QCOMPARE(r.QueryTimes.size(), size_t(1));
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
    QTRY_COMPARE_WITH_TIMEOUT(r.FinishTimes.size(), size_t(1), 3000);
    QTest::qWait(100);
    QCOMPARE(r.QueryTimes.size(), size_t(2));
    QCOMPARE(r.Kinds, (std::vector<int>{0, 0}));
    QCOMPARE(r.Log.last(), QString("finish"));
    QCOMPARE(r.FinishTimes.size(), size_t(1));
    QVERIFY(!r.M.Running());
}

QTEST_GUILESS_MAIN(TestKrPollingCycle)
#include "tst_krpolling_cycle.moc"
