// The link's followers hear of every answer and every lost read of the rotation's blocks, once
// each, and of the end of polling; other queries and unrelated answers are not passed on.
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/LinkTestAccess.h"
#include "support/ScriptedDialogs.h"

#include "link/frmModbus.h"

#include <QtTest>

namespace {

class TWatch : public IMeterEvents {
public:
    void MeteringRead(const TMeterModel&, const TMeterReading& r) override {
        Events << QStringLiteral("%1:%2@%3")
                      .arg(Name(r.Block))
                      .arg(r.Raw.size())
                      .arg(r.Scaling.PTRatio);
    }
    void MeteringLost(const TMeterModel&, TMeteringBlock block) override {
        Events << Name(block) + QStringLiteral(":lost");
    }
    void CycleEnded() override { Events << QStringLiteral("stopped"); }
    static QString Name(TMeteringBlock b) { return QString(QLatin1Char("MERI"[int(b)])); }
    QStringList Events;
};

} // namespace

class TestMeteringObserver : public QObject {
    Q_OBJECT

private slots:
    void answersAndLosses_data();
    void answersAndLosses();
    void removedObserverHearsNothing();
    void anotherMeterIsANewModel_data();
    void anotherMeterIsANewModel();
};

void TestMeteringObserver::answersAndLosses_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("events");
    // One query per step (RunMeteringScript): "a" answered, "x" lost, "f" polling stops.
    QTest::newRow("one rotation answered")
        << "a a a a" << QStringList{"M:21@1", "E:4@1", "R:2@1", "I:6@1"};
    QTest::newRow("lost reads") << "x a x a" << QStringList{"M:lost", "E:4@1", "R:lost", "I:6@1"};
    QTest::newRow("stop") << "a f" << QStringList{"M:21@1", "stopped"};
}

void TestMeteringObserver::answersAndLosses() {
    QFETCH(QString, script);
    TFakeShell shell;
    TScriptedDialogs dialogs;
    TFormModbus link(shell, dialogs);
    link.SetState(TConnectionState::Online);
    TWatch watch;
    link.Follow(&watch);
    link.Follow(&watch); // once only
    RunMeteringScript(link, script, 1);
    QTEST(watch.Events, "events");
}

void TestMeteringObserver::removedObserverHearsNothing() {
    TFakeShell shell;
    TScriptedDialogs dialogs;
    TFormModbus link(shell, dialogs);
    link.SetState(TConnectionState::Online);
    TWatch watch;
    link.Follow(&watch);
    link.Unfollow(&watch);
    std::string query;
    link.ModbusQueryData(TLinkTestAccess::Master(link), query);
    link.ModbusAfterResponse(TLinkTestAccess::Master(link));
    QVERIFY(watch.Events.isEmpty());
    // A one-shot identity read is no metering read: its loss is no metering loss.
    link.Follow(&watch);
    link.AppendQuery("00,03,F0,00,00,09");
    link.ModbusQueryData(TLinkTestAccess::Master(link), query);
    link.ModbusAfterResponse(TLinkTestAccess::Master(link));
    QVERIFY(watch.Events.isEmpty());
}

// Whatever may bring another meter to the line starts a new meter model: the version, serial
// number and ratios of the one before are gone until the one now reached is read.
void TestMeteringObserver::anotherMeterIsANewModel_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("asked"); // the new meter's identity is asked for at once
    QTest::newRow("address, connected") << "address" << true;
    QTest::newRow("address, offline") << "address offline" << false;
    QTest::newRow("another baud rate") << "baud" << true;
    QTest::newRow("disconnect") << "disconnect" << false;
}

void TestMeteringObserver::anotherMeterIsANewModel() {
    QFETCH(QString, change);
    QFETCH(bool, asked);
    TFakeShell shell;
    TScriptedDialogs dialogs;
    TFormModbus link(shell, dialogs);
    if (!change.endsWith("offline"))
        link.SetState(TConnectionState::Online);
    std::string query;
    link.ModbusQueryData(TLinkTestAccess::Master(link), query);
    TLinkTestAccess::ReadVersion(link, "3.20");
    TLinkTestAccess::Answer(link, 0x1100,
                            std::vector<std::uint16_t>{0, 1, 9600, 0, 0, 400, 0, 100, 50, 5, 0});
    QCOMPARE(link.SoftwareVersion(), QStringLiteral("3.20"));
    QVERIFY(link.RatiosKnown());
    QCOMPARE(link.Scaling().PTRatio, 4.0);

    struct TChanged : IMeterEvents {
        void MeterChanged(const TMeterModel&) override { ++Count; }
        int Count = 0;
    } changed;
    link.Follow(&changed);
    if (change.startsWith("address")) {
        link.SetDeviceAddress(2);
    } else if (change == "baud") {
        link.SetBaudrate(9600);
        link.ModbusAfterResponse(TLinkTestAccess::Master(link));
        link.ModbusQueryData(TLinkTestAccess::Master(link), query);
    } else {
        link.EndCycle();
    }
    QCOMPARE(changed.Count, 1);
    QVERIFY(link.SoftwareVersion().isEmpty());
    QVERIFY(!link.IdentityKnown());
    QVERIFY(!link.RatiosKnown());
    QCOMPARE(link.Scaling().PTRatio, 1.0);
    QVERIFY(link.SerialNumber().isEmpty());
    QCOMPARE(link.Meter().Line(), link.Line());
    if (change != "baud")
        link.ModbusQueryData(TLinkTestAccess::Master(link), query);
    QCOMPARE(query == "02,03,F0,00,00,09" || query == "01,03,F0,00,00,09", asked);
}

QTEST_GUILESS_MAIN(TestMeteringObserver)
#include "tst_meteringobserver.moc"
