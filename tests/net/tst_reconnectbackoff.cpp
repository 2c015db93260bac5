// The reconnect policy on a virtual clock: each row is a story of connects, drops and failed
// attempts at given times, with the next attempt the policy allows after each step.
#include "net/ReconnectBackoff.h"

#include <QtTest>

class TReconnectBackoffTest : public QObject {
    Q_OBJECT

private slots:
    void nextAttempt_data();
    void nextAttempt();
};

void TReconnectBackoffTest::nextAttempt_data() {
    // Steps "K@t=n": K is C (connected), F (attempt failed), D (dropped with no answer pending
    // or mid-answer) or A (closed after a complete answer) at time t; n is the next attempt
    // expected after it ("-": not checked).
    QTest::addColumn<QString>("story");
    QTest::newRow("failures double the wait up to 2 s")
        << "F@0=250 F@250=750 F@750=1750 F@1750=3750 F@3750=5750 F@5750=7750";
    QTest::newRow("a dropped connection waits, and the gateway back is reached")
        << "C@0=- D@100=350 F@350=850 C@850=- D@900=1150";
    QTest::newRow("a gateway that closes after each answer costs nothing")
        << "C@0=- A@10=10 C@12=- A@20=20 C@21=- A@30=30";
    QTest::newRow("a close after an answer does not undo the growth of failures")
        << "F@0=250 F@250=750 A@800=800 F@800=1800";
    QTest::newRow("a connection made starts again from the shortest wait")
        << "F@0=250 F@250=750 F@750=1750 C@1750=- D@2000=2250";
    QTest::newRow("a drop without the answer counts as a fault")
        << "C@0=- A@10=10 C@11=- D@20=270 F@270=770";
}

void TReconnectBackoffTest::nextAttempt() {
    QFETCH(QString, story);
    TReconnectBackoff backoff;
    for (const QString& step : story.split(' ')) {
        const QChar kind = step[0];
        const qint64 at = step.section('@', 1).section('=', 0, 0).toLongLong();
        const QString expected = step.section('=', 1);
        if (kind == 'C')
            backoff.Connected();
        else if (kind == 'F')
            backoff.Failed(at);
        else
            backoff.Dropped(at, kind == 'A');
        if (expected != "-") {
            QVERIFY2(backoff.NextAttempt() == expected.toLongLong(),
                     qPrintable(step + " gave " + QString::number(backoff.NextAttempt())));
            QCOMPARE(backoff.DelayAt(at), int(expected.toLongLong() - at));
        }
    }
}

QTEST_GUILESS_MAIN(TReconnectBackoffTest)
#include "tst_reconnectbackoff.moc"
