// The schedule of several meters on one line, played on virtual time against meters that answer
// after a fixed time or stay silent for a while.
#include "bus/BusSchedule.h"

#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(TBusMeterState)

namespace {

constexpr std::int64_t TimeoutMs = 500;

// "1@1000 5@250p": address @ interval, "p" paused.
std::vector<TBusMeter> Meters(const QString& text) {
    std::vector<TBusMeter> meters;
    for (const QString& item : text.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = item.split('@');
        TBusMeter m;
        m.Address = parts[0].toInt();
        QString interval = parts[1];
        m.Paused = interval.endsWith('p');
        interval.remove('p');
        m.IntervalMs = interval.toLongLong();
        meters.push_back(m);
    }
    return meters;
}

// A line of meters: those named in `silent` ("2:0-10000", "2:0-" for ever) do not answer
// while silent, the others answer after `responseMs`. Every query start is kept per address.
struct TLinePlay {
    TBusSchedule Schedule;
    std::map<int, QList<std::int64_t>> Starts;
    std::map<int, std::pair<std::int64_t, std::int64_t>> Silent;
    std::int64_t ResponseMs = 50;
    std::int64_t Now = 0;

    TLinePlay(const QString& meters, const TBusTimings& timings = {}) : Schedule(timings) {
        for (const TBusMeter& m : Meters(meters)) {
            Schedule.AddMeter(m, 0);
        }
    }
    void SetSilent(const QString& text) {
        for (const QString& item : text.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = item.split(QRegularExpression("[:-]"));
            const std::int64_t until = parts[2].isEmpty() ? -1 : parts[2].toLongLong();
            Silent[parts[0].toInt()] = {parts[1].toLongLong(), until};
        }
    }
    bool IsSilent(int address, std::int64_t at) const {
        const auto it = Silent.find(address);
        return it != Silent.end() && at >= it->second.first &&
               (it->second.second < 0 || at < it->second.second);
    }
    // Plays every query that starts before `until`; the time stays at the end of the last one.
    void Until(std::int64_t until) {
        while (const auto next = Schedule.Next(Now)) {
            if (next->At >= until) {
                break;
            }
            QVERIFY(next->At >= Now);
            Now = next->At;
            QVERIFY(Schedule.Started(next->Address, Now));
            QVERIFY(!Schedule.Next(Now)); // one query in flight
            Starts[next->Address] << Now;
            if (IsSilent(next->Address, Now)) {
                Now += TimeoutMs;
                Schedule.Finished(TBusOutcome::TimedOut, Now);
            } else {
                Now += ResponseMs;
                Schedule.Finished(TBusOutcome::Answered, Now, ResponseMs);
            }
        }
        Now = std::max(Now, until);
    }
};

QString Joined(const QList<std::int64_t>& values) {
    QStringList texts;
    for (const std::int64_t v : values) {
        texts << QString::number(v);
    }
    return texts.join(' ');
}

} // namespace

class TestBusSchedule : public QObject {
    Q_OBJECT

private slots:
    void cadence_data();
    void cadence();
    void offlineAndBack_data();
    void offlineAndBack();
    void pauseOnAddressChange_data();
    void pauseOnAddressChange();
    void counters_data();
    void counters();
};

void TestBusSchedule::cadence_data() {
    QTest::addColumn<QString>("meters");
    QTest::addColumn<int>("responseMs");
    QTest::addColumn<int>("untilMs");
    QTest::addColumn<QString>("counts");
    QTest::addColumn<int>("achievedCycleMs");
    QTest::addColumn<int>("busyPercent");

    QTest::newRow("one meter at its interval") << "1@1000" << 50 << 10001 << "1:11" << 1000 << 5;
    // Meter 2 waits 52 ms behind meter 1 every fourth time, without drifting.
    QTest::newRow("each its own cadence")
        << "1@1000 2@250" << 50 << 10001 << "1:11 2:40" << 1000 << 25;
    // A line too slow for what is asked: each meter gets a third, none starves.
    QTest::newRow("overloaded line shared evenly")
        << "1@100 2@100 3@100" << 98 << 3000 << "1:10 2:10 3:10" << 300 << 98;
    QTest::newRow("paused meter never asked")
        << "1@1000 2@1000p" << 50 << 5001 << "1:6 2:0" << 1000 << 6;
}

void TestBusSchedule::cadence() {
    QFETCH(QString, meters);
    QFETCH(int, responseMs);
    QFETCH(int, untilMs);
    TLinePlay play(meters);
    play.ResponseMs = responseMs;
    play.Until(untilMs);
    QFETCH(QString, counts);
    QStringList seen;
    for (const int address : play.Schedule.Addresses()) {
        QCOMPARE(play.Schedule.Stats(address).Queries, play.Starts[address].size());
        seen << QString("%1:%2").arg(address).arg(play.Starts[address].size());
    }
    QCOMPARE(seen.join(' '), counts);
    const TBusLineStats line = play.Schedule.LineStats(play.Now);
    QVERIFY(line.AchievedCycleMs.has_value());
    QFETCH(int, achievedCycleMs);
    QCOMPARE(*line.AchievedCycleMs, achievedCycleMs);
    QFETCH(int, busyPercent);
    QCOMPARE(qRound(line.BusyShare * 100), busyPercent);
}

void TestBusSchedule::offlineAndBack_data() {
    QTest::addColumn<QString>("meters");
    QTest::addColumn<QString>("silent");
    QTest::addColumn<int>("resumeAt"); // the paused meter named by `address` resumes; -1 never
    QTest::addColumn<int>("untilMs");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("starts");
    QTest::addColumn<TBusMeterState>("state");
    QTest::addColumn<int>("backoffMs");

    // Offline after the third time-out (ends 2500): probes 2, 4, 8, 16, 32 s after each
    // unanswered one, then every 60 s.
    QTest::newRow("back-off doubles to its cap")
        << "1@1000"
        << "1:0-" << -1 << 200000 << 1 << "0 1000 2000 4500 9000 17500 34000 66500 127000 187500"
        << TBusMeterState::Offline << 60000;
    QTest::newRow("answers a probe and keeps its cadence")
        << "1@1000"
        << "1:0-10000" << -1 << 20000 << 1 << "0 1000 2000 4500 9000 17500 18500 19500"
        << TBusMeterState::Answering << 0;
    QTest::newRow("two time-outs leave it slow")
        << "1@1000"
        << "1:0-1500" << -1 << 5000 << 1 << "0 1000 2000 3000 4000" << TBusMeterState::Slow << 0;
    QTest::newRow("offline meter beside an answering one")
        << "1@1000 2@1000"
        << "2:0-" << -1 << 20000 << 2 << "52 1052 2052 4552 9052 17552" << TBusMeterState::Offline
        << 16000;
    // Meter 1 waits once for meter 2's probe (4552 to 5052), then is back on its beat.
    QTest::newRow("the answering one keeps its cadence")
        << "1@1000 2@1000"
        << "2:0-" << -1 << 7000 << 1 << "0 1000 2000 3000 4000 5054 6000"
        << TBusMeterState::Answering << 0;
    QTest::newRow("resumed meter asked at once")
        << "1@1000p"
        << "" << 5000 << 8000 << 1 << "5000 6000 7000" << TBusMeterState::Answering << 0;
}

void TestBusSchedule::offlineAndBack() {
    QFETCH(QString, meters);
    QFETCH(int, resumeAt);
    QFETCH(int, address);
    TLinePlay play(meters);
    QFETCH(QString, silent);
    play.SetSilent(silent);
    if (resumeAt >= 0) {
        play.Until(resumeAt);
        QCOMPARE(play.Schedule.State(address), TBusMeterState::Paused);
        QVERIFY(play.Schedule.Resume(address, resumeAt));
    }
    QFETCH(int, untilMs);
    QFETCH(QString, starts);
    play.Until(untilMs);
    QCOMPARE(Joined(play.Starts[address]), starts);
    QFETCH(TBusMeterState, state);
    QCOMPARE(play.Schedule.State(address), state);
    QFETCH(int, backoffMs);
    QCOMPARE(play.Schedule.BackoffMs(address), backoffMs);
}

void TestBusSchedule::pauseOnAddressChange_data() {
    QTest::addColumn<QString>("meters");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QString>("starts"); // of meter 1

    // Both always due: each query follows the last one's end after 2 ms of silence.
    QTest::newRow("default: the silence only") << "1@0 2@0" << 0 << "0 104 208";
    QTest::newRow("pause after another address") << "1@0 2@0" << 20 << "0 144 288";
    QTest::newRow("no pause on the same address") << "1@0" << 20 << "0 52 104 156 208 260";
}

void TestBusSchedule::pauseOnAddressChange() {
    TBusTimings timings;
    timings.SilenceMs = 2;
    QFETCH(int, pauseMs);
    QFETCH(QString, meters);
    timings.AddressChangePauseMs = pauseMs;
    TLinePlay play(meters, timings);
    play.Until(300);
    QFETCH(QString, starts);
    QCOMPARE(Joined(play.Starts[1]), starts);
}

void TestBusSchedule::counters_data() {
    QTest::addColumn<QString>("script"); // A<ms>: answered after ms, T, B bad frame, E; "*n"
    QTest::addColumn<QString>("counts"); // queries answered time-outs bad exceptions
    QTest::addColumn<int>("medianMs");
    QTest::addColumn<int>("p95Ms");
    QTest::addColumn<int>("ageMs"); // of the last values when the last query ended; -1 none
    QTest::addColumn<TBusMeterState>("state");

    QTest::newRow("each outcome counted") << "A20 A40 T B E A30"
                                          << "6 3 1 1 1" << 30 << 40 << 0 << TBusMeterState::Slow;
    QTest::newRow("values age while unanswered")
        << "A20 T"
        << "2 1 1 0 0" << 20 << 20 << 1480 << TBusMeterState::Slow;
    QTest::newRow("no values yet") << "T E"
                                   << "2 0 1 0 1" << -1 << -1 << -1 << TBusMeterState::Slow;
    QTest::newRow("a clean window answers again")
        << "T A10*8"
        << "9 8 1 0 0" << 10 << 10 << 0 << TBusMeterState::Answering;
    QTest::newRow("a late answer is slow") << "A10 A300"
                                           << "2 2 0 0 0" << 10 << 300 << 0 << TBusMeterState::Slow;
    QTest::newRow("95th percentile of twenty")
        << "A10*18 A200*2"
        << "20 20 0 0 0" << 10 << 200 << 0 << TBusMeterState::Answering;
    // Six long answers fell out of the ring of 64: kept, they would be the 95th percentile.
    QTest::newRow("the last 64 answers only")
        << "A1000*6 A10*64"
        << "70 70 0 0 0" << 10 << 10 << 0 << TBusMeterState::Answering;
}

void TestBusSchedule::counters() {
    TBusSchedule schedule;
    QVERIFY(schedule.AddMeter({7, 1000, false}, 0));
    std::int64_t now = 0;
    QFETCH(QString, script);
    for (const QString& step : script.split(' ')) {
        const QStringList parts = step.split('*');
        const int times = parts.size() > 1 ? parts[1].toInt() : 1;
        for (int i = 0; i < times; ++i) {
            const auto next = schedule.Next(now);
            QVERIFY(next && next->Address == 7);
            now = next->At;
            QVERIFY(schedule.Started(7, now));
            const QChar kind = parts[0][0];
            const std::int64_t ms = kind == 'A' ? parts[0].mid(1).toLongLong() : TimeoutMs;
            now += ms;
            schedule.Finished(kind == 'A'   ? TBusOutcome::Answered
                              : kind == 'T' ? TBusOutcome::TimedOut
                              : kind == 'B' ? TBusOutcome::BadFrame
                                            : TBusOutcome::Exception,
                              now, ms);
        }
    }
    const TBusMeterStats& s = schedule.Stats(7);
    QFETCH(QString, counts);
    QCOMPARE(QString("%1 %2 %3 %4 %5")
                 .arg(s.Queries)
                 .arg(s.Answered)
                 .arg(s.TimedOut)
                 .arg(s.BadFrames)
                 .arg(s.Exceptions),
             counts);
    QFETCH(int, medianMs);
    QCOMPARE(s.MedianMs().value_or(-1), medianMs);
    QFETCH(int, p95Ms);
    QCOMPARE(s.P95Ms().value_or(-1), p95Ms);
    QFETCH(int, ageMs);
    QCOMPARE(s.ValuesAgeMs(now).value_or(-1), ageMs);
    QFETCH(TBusMeterState, state);
    QCOMPARE(schedule.State(7), state);
}

QTEST_APPLESS_MAIN(TestBusSchedule)
#include "tst_busschedule.moc"
