// The clock the cycle tests step: timers fire in the order of their deadlines, also the ones
// armed while time advances, each at its own moment; a sleep moves the time without firing.
#include "support/VirtualClock.h"

#include <QtTest>

#include <map>

class TestVirtualClock : public QObject {
    Q_OBJECT

private slots:
    void advanceFiresInDeadlineOrder_data();
    void advanceFiresInDeadlineOrder();
    void sleepMovesTimeWithoutFiring();
};

void TestVirtualClock::advanceFiresInDeadlineOrder_data() {
    // script: "A:30" arms A for 30 ms now; "A>B:5" arms B for 5 ms when A fires; "A>!B" stops
    // B when A fires. fired: every firing as name@time; next: the deadline left, -1 for none.
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("advance");
    QTest::addColumn<QString>("fired");
    QTest::addColumn<int>("next");
    QTest::newRow("deadline order, ties in arming order")
        << "A:30 B:10 C:10" << 100 << "B@10 C@10 A@30" << -1;
    QTest::newRow("nothing due yet") << "A:30" << 29 << "" << 30;
    QTest::newRow("due at the end of the advance") << "A:30" << 30 << "A@30" << -1;
    QTest::newRow("armed by a firing timer, due within") << "A:10 A>B:5" << 20 << "A@10 B@15" << -1;
    QTest::newRow("armed by a firing timer, due later") << "A:10 A>B:20" << 20 << "A@10" << 30;
    QTest::newRow("armed for 0 ms by a firing timer") << "A:10 A>B:0" << 10 << "A@10 B@10" << -1;
    QTest::newRow("armed again: the new deadline counts") << "A:10 A:50" << 100 << "A@50" << -1;
    QTest::newRow("stopped by a firing timer") << "A:10 B:20 A>!B" << 100 << "A@10" << -1;
    QTest::newRow("a chain of three") << "A:1 A>B:1 B>C:1 C>A:10" << 12 << "A@1 B@2 C@3" << 13;
}

void TestVirtualClock::advanceFiresInDeadlineOrder() {
    QFETCH(QString, script);
    QFETCH(int, advance);
    QFETCH(QString, fired);
    QFETCH(int, next);
    TVirtualClock clock;
    QStringList log;
    std::map<QString, std::unique_ptr<IOneShotTimer>> timers;
    std::multimap<QString, std::function<void()>> onFire;
    const auto timer = [&](const QString& name) -> IOneShotTimer& {
        auto& t = timers[name];
        if (!t) {
            t = clock.CreateTimer([&, name] {
                log << QString("%1@%2").arg(name).arg(clock.Now());
                auto [from, to] = onFire.equal_range(name);
                for (auto it = from; it != to; ++it) {
                    it->second();
                }
            });
        }
        return *t;
    };
    for (const QString& step : script.split(' ')) {
        const QStringList parts = step.split('>');
        if (parts.size() == 1) {
            const QStringList armed = step.split(':');
            timer(armed[0]).Start(armed[1].toInt());
            continue;
        }
        const QString target = parts[1];
        timer(target.startsWith('!') ? target.mid(1) : target.section(':', 0, 0));
        onFire.emplace(parts[0], [&, target] {
            if (target.startsWith('!')) {
                timer(target.mid(1)).Stop();
            } else {
                timer(target.section(':', 0, 0)).Start(target.section(':', 1).toInt());
            }
        });
    }
    clock.Advance(advance);
    QCOMPARE(log.join(' '), fired);
    QCOMPARE(clock.Now(), std::int64_t(advance));
    QCOMPARE(clock.NextDeadline().value_or(-1), std::int64_t(next));
}

void TestVirtualClock::sleepMovesTimeWithoutFiring() {
    TVirtualClock clock;
    QStringList log;
    auto a = clock.CreateTimer([&] { log << QString("A@%1").arg(clock.Now()); });
    auto b = clock.CreateTimer([&] { log << QString("B@%1").arg(clock.Now()); });
    a->Start(100);
    b->Start(300);
    clock.Sleep(200);
    clock.Sleep(0);
    QCOMPARE(clock.Now(), std::int64_t(200));
    QVERIFY(log.isEmpty());
    QVERIFY(a->IsActive());
    // Overdue timers fire at the next step, at the moment time has reached.
    clock.Advance(0);
    QCOMPARE(log, QStringList{"A@200"});
    QVERIFY(!a->IsActive());
    QVERIFY(b->IsActive());
    QCOMPARE(clock.Sleeps(), (std::vector<int>{200, 0}));
    // A timer destroyed while armed never fires.
    b.reset();
    clock.Advance(1000);
    QCOMPARE(log, QStringList{"A@200"});
    QVERIFY(!clock.NextDeadline());
}

QTEST_GUILESS_MAIN(TestVirtualClock)
#include "tst_virtualclock.moc"
