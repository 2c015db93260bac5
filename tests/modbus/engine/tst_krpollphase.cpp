// The waits of a query's cycle as the master works them out from its times: the send time,
// the rest of the query interval after the frame and its gap, the time-out counted from the
// later of the two, and the steps that pass straight on when there is nothing to wait for.
#include "modbus/KrPollPhase.h"

#include <QtTest>

using P = TPollPhase;
using A = TPollAction;
Q_DECLARE_METATYPE(TPollPhase)
Q_DECLARE_METATYPE(TPollAction)

class TestKrPollPhase : public QObject {
    Q_OBJECT

private slots:
    void step_data();
    void step();
};

void TestKrPollPhase::step_data() {
    QTest::addColumn<TPollPhase>("from");
    // send time, frame gap, frame interval, query interval, query time-out
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<TPollPhase>("phase");
    QTest::addColumn<TPollAction>("action");
    QTest::addColumn<int>("wait");
    const QList<int> plain{20, 5, 3, 100, 3000};
    QTest::newRow("the frame's time on the line first")
        << P::Idle << plain << false << P::SendTime << A::Wait << 20;
    QTest::newRow("rest of the interval after the frame and its gap")
        << P::SendTime << plain << false << P::QueryInterval << A::Wait << 75;
    QTest::newRow("frame interval counts where above the gap")
        << P::Idle << QList<int>{0, 3, 10, 100, 3000} << false << P::QueryInterval << A::Wait << 90;
    QTest::newRow("time-out counted from the end of the interval")
        << P::QueryInterval << plain << false << P::ResponseWait << A::Wait << 2900;
    QTest::newRow("time-out counted from the end of a long frame")
        << P::QueryInterval << QList<int>{200, 10, 0, 100, 1000} << false << P::ResponseWait
        << A::Wait << 790;
    QTest::newRow("nothing to wait for: straight to the response")
        << P::Idle << QList<int>{0, 0, 0, 0, 3000} << false << P::ResponseWait << A::Wait << 3000;
    QTest::newRow("answered: processed at the next tick")
        << P::QueryInterval << plain << true << P::Processing << A::Wait << 1;
    QTest::newRow("time-out already over") << P::QueryInterval << QList<int>{20, 5, 3, 100, 50}
                                           << false << P::Processing << A::Wait << 1;
    QTest::newRow("the time-out passes")
        << P::ResponseWait << plain << false << P::Processing << A::Wait << 1;
    QTest::newRow("processed: the query ends")
        << P::Processing << plain << false << P::Finished << A::EndQuery << 0;
    QTest::newRow("nothing follows a time-out's step")
        << P::TimedOut << plain << false << P::Idle << A::None << 0;
}

void TestKrPollPhase::step() {
    QFETCH(TPollPhase, from);
    QFETCH(QList<int>, times);
    QFETCH(bool, answered);
    QFETCH(TPollPhase, phase);
    QFETCH(TPollAction, action);
    QFETCH(int, wait);
    const TPollStep step =
        NextPollStep(from, {times[0], times[1], times[2], times[3], times[4]}, answered);
    QCOMPARE(step.Phase, phase);
    QCOMPARE(step.Action, action);
    if (action == A::Wait)
        QCOMPARE(step.WaitMs, wait);
}

QTEST_GUILESS_MAIN(TestKrPollPhase)
#include "tst_krpollphase.moc"
