// The Bus page's pure parts: the hints that name a likely fault from the counters, a row as
// shown, and the CSV export's quoting.
#include "bus/BusTable.h"

#include <QtTest>

namespace {

// Plays outcomes on a schedule, meter after meter: per meter a string of a (answered in 20 ms),
// t (timed out after the time-out), b (bad frame), e (exception); "1:aat 2:bb".
void Play(TBusSchedule& bus, const QString& script, int timeoutMs, std::int64_t& now) {
    std::vector<std::pair<int, QString>> meters;
    for (const QString& part : script.split(' ', Qt::SkipEmptyParts)) {
        const int address = part.section(':', 0, 0).toInt();
        bus.AddMeter({address, 100, false}, now);
        meters.emplace_back(address, part.section(':', 1));
    }
    for (int i = 0;; ++i) {
        bool any = false;
        for (const auto& [address, outcomes] : meters) {
            if (i >= outcomes.size())
                continue;
            any = true;
            const QChar c = outcomes[i];
            const TBusOutcome outcome = c == 'a'   ? TBusOutcome::Answered
                                        : c == 't' ? TBusOutcome::TimedOut
                                        : c == 'b' ? TBusOutcome::BadFrame
                                                   : TBusOutcome::Exception;
            const int took = outcome == TBusOutcome::TimedOut ? timeoutMs : 20;
            bus.Started(address, now);
            now += took;
            bus.Finished(outcome, now, took);
            now += 5;
        }
        if (!any)
            return;
    }
}

} // namespace

class TestBusTable : public QObject {
    Q_OBJECT

private slots:
    void hints_data();
    void hints();
    void rowAndCsv();
};

void TestBusTable::hints_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("expected"); // a piece of each hint, in order
    QTest::newRow("all well") << "1:aaaa 2:aaaa 3:aaaa" << QStringList{};
    QTest::newRow("bad frames at one address")
        << "1:aaaa 2:abbab 3:aaaa" << QStringList{"Meter 2: 3 bad frames"};
    // Noise on the whole line is no address conflict.
    QTest::newRow("bad frames everywhere") << "1:abab 2:abbab 3:aabb" << QStringList{};
    QTest::newRow("a silent meter takes the line")
        << "1:aaaa 2:tttt 3:aaaa"
        << QStringList{"Meter 2 takes 96% of the line's time, mostly waiting"};
    // Two meters are too few to say one takes more than its share.
    QTest::newRow("two meters") << "1:aaaa 2:tttt" << QStringList{};
}

void TestBusTable::hints() {
    QFETCH(QString, script);
    QFETCH(QStringList, expected);
    TBusSchedule bus;
    std::int64_t now = 0;
    Play(bus, script, 1000, now);
    const QStringList hints = BusHints(bus, 1000);
    QCOMPARE(hints.size(), expected.size());
    for (qsizetype i = 0; i < hints.size(); ++i)
        QVERIFY2(hints[i].startsWith(expected[i]), qPrintable(hints[i]));
}

void TestBusTable::rowAndCsv() {
    TBusSchedule bus;
    std::int64_t now = 0;
    Play(bus, "1:aaaa 2:ttt", 1000, now);
    TBusMeterFacts well{1, "SN, one", "3.20", 1.5, 230.04, 4.25, 12.34};
    const QStringList row = BusRowCells(well, bus, now + 1995);
    QCOMPARE(row.size(), BusColumnTitles().size());
    QCOMPARE(row.mid(0, 10), (QStringList{"1", "SN, one", "3.20", "answering", "2.0 s", "1.500",
                                          "230.0", "4.250", "12.3", "100%"}));
    QCOMPARE(row.mid(13, 2), (QStringList{"20", "20"}));
    const QStringList silent = BusRowCells({2, {}, {}, {}, {}, {}, {}}, bus, now);
    QCOMPARE(silent.mid(1, 5), (QStringList{"--", "--", "offline", "--", "--"}));
    QCOMPARE(silent.mid(9, 3), (QStringList{"0%", "3", "0"}));

    const QString csv = BusCsv({"A", "B"}, {{"1", "SN, \"one\""}, {"2", "x"}});
    QCOMPARE(csv, QStringLiteral("A,B\n1,\"SN, \"\"one\"\"\"\n2,x\n"));
}

QTEST_GUILESS_MAIN(TestBusTable)
#include "tst_bustable.moc"
