// The link tells its metering observers of every answer and every lost read of the rotation's
// blocks, once each, and of the end of polling; other queries and unrelated answers are not
// passed on.
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/ScriptedDialogs.h"

#include "link/frmModbus.h"

#include <QtTest>

namespace {

class TWatch : public IMeteringObserver {
public:
    void MeteringAnswer(TMeteringBlock block, std::span<const std::uint16_t> values,
                        const TScaling& scaling) override {
        Events
            << QStringLiteral("%1:%2@%3").arg(Name(block)).arg(values.size()).arg(scaling.PTRatio);
    }
    void MeteringLost(TMeteringBlock block) override {
        Events << Name(block) + QStringLiteral(":lost");
    }
    void MeteringStopped() override { Events << QStringLiteral("stopped"); }
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
    TWatch watch;
    link.AddMeteringObserver(&watch);
    link.AddMeteringObserver(&watch); // once only
    RunMeteringScript(link, script, 1);
    QTEST(watch.Events, "events");
}

void TestMeteringObserver::removedObserverHearsNothing() {
    TFakeShell shell;
    TScriptedDialogs dialogs;
    TFormModbus link(shell, dialogs);
    TWatch watch;
    link.AddMeteringObserver(&watch);
    link.RemoveMeteringObserver(&watch);
    std::string query;
    link.ModbusQueryData(link.Modbus, query);
    link.ModbusAfterResponse(link.Modbus);
    QVERIFY(watch.Events.isEmpty());
    // A one-shot identity read is no metering read: neither answer nor loss is passed on.
    link.AddMeteringObserver(&watch);
    link.AppendQuery("00,03,F0,00,00,09");
    link.ModbusQueryData(link.Modbus, query);
    link.ModbusF03Response(link.Modbus, 1, 0x1400, std::vector<std::uint16_t>(21, 0));
    link.ModbusAfterResponse(link.Modbus);
    QVERIFY(watch.Events.isEmpty());
}

QTEST_GUILESS_MAIN(TestMeteringObserver)
#include "tst_meteringobserver.moc"
