// The metering read in progress: each row is one query's life. Events: M, E, R, I an answer
// holding that block, N the same query going out again, C no query in progress any more.
#include "meter/MeteringReadProgress.h"
#include "meter/QueryPlan.h"

#include <QtTest>

namespace {

TMeteringBlock BlockOf(char letter) {
    switch (letter) {
    case 'E':
        return TMeteringBlock::Energy;
    case 'R':
        return TMeteringBlock::Relays;
    case 'I':
        return TMeteringBlock::Inputs;
    default:
        return TMeteringBlock::Measurement;
    }
}

char LetterOf(std::optional<TMeteringBlock> block) {
    return block ? "MERI"[static_cast<int>(*block)] : '-';
}

} // namespace

class TestMeteringReadProgress : public QObject {
    Q_OBJECT
private slots:
    void Answers_data();
    void Answers();
};

void TestMeteringReadProgress::Answers_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("events");
    // One character per answer: 1 taken in, 0 dropped.
    QTest::addColumn<QByteArray>("taken");
    QTest::addColumn<char>("block");
    QTest::addColumn<char>("unanswered");

    QTest::newRow("answer taken once")
        << QByteArray(qry::Measurement) << QByteArray("MM") << QByteArray("10") << 'M' << '-';
    QTest::newRow("no answer: a gap")
        << QByteArray(qry::EnergyLong) << QByteArray() << QByteArray() << 'E' << 'E';
    QTest::newRow("other blocks pass, the read stays open")
        << QByteArray(qry::Relays) << QByteArray("MIE") << QByteArray("111") << 'R' << 'R';
    QTest::newRow("query of no metering block")
        << QByteArray(qry::Identity) << QByteArray("MM") << QByteArray("11") << '-' << '-';
    QTest::newRow("no query") << QByteArray() << QByteArray("I") << QByteArray("1") << '-' << '-';
    QTest::newRow("cleared: everything passes")
        << QByteArray(qry::Inputs) << QByteArray("CII") << QByteArray("11") << '-' << '-';
    QTest::newRow("sent again: answered once more")
        << QByteArray(qry::Measurement) << QByteArray("MNMM") << QByteArray("110") << 'M' << '-';
    QTest::newRow("sent again: its answer still to come")
        << QByteArray(qry::EnergyShort) << QByteArray("EN") << QByteArray("1") << 'E' << 'E';
}

void TestMeteringReadProgress::Answers() {
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, events);
    TMeteringReadProgress progress;
    progress.Begin(query.toStdString());
    QByteArray taken;
    for (const char event : events) {
        if (event == 'N')
            progress.Begin(query.toStdString());
        else if (event == 'C')
            progress.Clear();
        else
            taken += progress.Answer(BlockOf(event)) ? '1' : '0';
    }
    QTEST(taken, "taken");
    QTEST(LetterOf(progress.Block()), "block");
    QTEST(LetterOf(progress.Unanswered()), "unanswered");
}

QTEST_APPLESS_MAIN(TestMeteringReadProgress)
#include "tst_meteringreadprogress.moc"
