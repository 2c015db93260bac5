// The operator's day with the whole program and a meter on COM1: the first start, the relays
// switched, the energy counters preset and reset, and meters of the basic and the extended
// layout, each checked on the screen and in the meter's memory.
#include "support/ScenarioKit.h"

#include <QGroupBox>
#include <QtTest>

using namespace scenario;

namespace {

const QString Identity = "01,03,F0,00,00,09", Settings1100 = "01,03,11,00,00,0D",
              AOType = "01,03,F1,06,00,01", Measurement = "01,03,14,00,00,15",
              Relays = "01,01,00,00,00,02", Inputs = "01,02,00,00,00,06";

QString EnergyRead(const QString& version) {
    return version == "3.05" ? "01,03,11,80,00,04" : "01,03,11,80,00,0C";
}

// The tenths a counter holds in the meter's memory, -1 when it is not there.
qint64 Tenths(const TSimMeter& meter, int counter) {
    bool ok = false;
    const qint64 v = meter.State().value(QString("energy.%1").arg(counter)).toLongLong(&ok);
    return ok ? v : -1;
}

// The simulated load goes on counting, but a tenth takes minutes: at most one more.
bool Near(qint64 tenths, qint64 expected) {
    return tenths == expected || tenths == expected + 1;
}

// The index of the first request equal to text from position from on, -1 if none.
qsizetype IndexOf(const QStringList& requests, const QString& text, qsizetype from = 0) {
    return requests.indexOf(text, from);
}

} // namespace

class TestScenarioOperator : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStart();
    void relaysAndEnergy_data();
    void relaysAndEnergy();
    void pagesFollowTheMeterVersion_data();
    void pagesFollowTheMeterVersion();
};

void TestScenarioOperator::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
    QVERIFY(QFileInfo::exists(SimBinary()));
    QLocale::setDefault(QLocale::c());
}

void TestScenarioOperator::init() {
    ClearStore();
    GuardCom1();
}

void TestScenarioOperator::cleanup() {
    UnmapPort(1);
}

void TestScenarioOperator::firstStart() {
    // Ratios 4 (PT 400/100) and 10 (CT 50/5): every value on the page is scaled.
    TSimMeter meter({"--version-text", "3.20"},
                    MeterMemory("energy.0=12345\nenergy.1=800\nrelay.0=1\nrelay.1=0\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    // Nothing stored yet: the dialog offers the program's defaults.
    QCOMPARE(p.Shown.Port, QString("COM1"));
    QCOMPARE(p.Shown.Baud, QString("19200"));
    QCOMPARE(p.Shown.Parity, QString("None1"));
    QCOMPARE(p.Shown.Address, QString("1"));
    QCOMPARE(p.Shown.Interval, QString("500"));
    QCOMPARE(p.Modbus().QueryInterval(), 20);
    QCOMPARE(p.W->StatusText(0), QString("Real-Time Metering @ 1"));
    QVERIFY(p.W->FormModbus().State() == TConnectionState::Offline);
    QVERIFY(p.Sent.isEmpty());

    QVERIFY(p.Connect());
    QVERIFY(!p.W->StartConnect()->isEnabled());
    QVERIFY(p.W->StartDisconnect()->isEnabled());
    QVERIFY(p.On(p.W->FormRTMetering(), "SpeedRO1")->isEnabled());

    // The page fills with the meter's values, scaled by its ratios.
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= 2, Wait);
    const QString mismatch = MeasurementMismatch(p, 4, 10);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY2(QRegularExpression(R"(^\d{3}\.\d V$)").match(p.MeteringText("LabelVa")).hasMatch(),
             qPrintable(p.MeteringText("LabelVa")));
    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString("ON"), Wait);
    QCOMPARE(p.MeteringText("LabelRO2"), QString("OFF"));
    QTRY_VERIFY_WITH_TIMEOUT(p.MeteringText("LabelEp_total").startsWith("1234."), Wait);
    QVERIFY(p.MeteringText("LabelEq_total").startsWith("80."));

    // The status bar: the last frame out, what came back, and no error among the frames sent.
    QTRY_VERIFY_WITH_TIMEOUT(
        QRegularExpression(R"(^RXD:  01 0[123] ([0-9A-F]{2} )+)").match(p.Rx()).hasMatch(), Wait);
    QVERIFY2(QRegularExpression(R"(^TXD:  01 0[123] ([0-9A-F]{2} ){6}$)").match(p.Tx()).hasMatch(),
             qPrintable(p.Tx()));
    const QRegularExpressionMatch stats =
        QRegularExpression(R"(^ERR:  0/(\d+)  \(0\.00%\)$)").match(p.Statistics());
    QVERIFY2(stats.hasMatch(), qPrintable(p.Statistics()));
    QVERIFY(stats.captured(1).toInt() >= 4);
    QVERIFY(stats.captured(1).toULongLong() <= p.Link().SentCount());

    QVERIFY(p.Disconnect());
    QCOMPARE(p.Tx(), QString());
    QCOMPARE(p.Rx(), QString());
    QCOMPARE(p.Statistics(), QString("ERR:  0/%1  (0.00%)").arg(p.Link().SentCount()));
    QVERIFY(LockFree(meter.Sim.Path()));

    // The meter received exactly what was sent: the page's reads first, then the rotation.
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests, p.Sent);
    QCOMPARE(requests.mid(0, 4), QStringList({Identity, Settings1100, AOType, Measurement}));
    const QStringList rotation = {Measurement, EnergyRead("3.20"), Relays, Inputs};
    for (qsizetype i = 3; i < requests.size(); ++i)
        QCOMPARE(requests[i], rotation[(i - 3) % 4]);
    const auto counters = meter.Sim.Stop();
    QCOMPARE(counters.value("requests"), qlonglong(p.Link().SentCount()));
    QCOMPARE(counters.value("answers"), counters.value("requests"));
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(0));
}

void TestScenarioOperator::relaysAndEnergy_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("presetLabel");
    QTest::addColumn<int>("counter");
    QTest::addColumn<QString>("resetWrite");
    QTest::addColumn<QList<int>>("zeroed");
    QTest::newRow("3.20") << "3.20"
                          << "LabelEp_imp" << 2 << "01,10,11,0D,00,01,02,00,0A"
                          << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("3.05") << "3.05"
                          << "LabelEq_total" << 1 << "01,10,11,80,00,04,08,00,00,00,00,00,00,00,00"
                          << QList<int>{0, 1};
}

void TestScenarioOperator::relaysAndEnergy() {
    QFETCH(QString, version);
    QFETCH(QString, presetLabel);
    QFETCH(int, counter);
    QFETCH(QString, resetWrite);
    QFETCH(QList<int>, zeroed);
    TSimMeter meter({"--version-text", version},
                    MeterMemory("energy.0=1000\nenergy.1=2000\nenergy.2=3000\n"
                                "energy.3=4000\nenergy.4=5000\nenergy.5=6000\n"
                                "relay.0=0\nrelay.1=0\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString("OFF"), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.MeteringText("LabelEp_total").startsWith("100."), Wait);
    QWidget* page = p.W->FormRTMetering();

    // Relay 1 on, then off: each asked first, written, and read back onto the page.
    const struct {
        const char* Question;
        const char* Write;
        const char* Held;
        const char* Shown;
    } switches[] = {
        {"Are you sure you want to switch Relay 1 on?", "01,05,00,00,FF,00", "1", "ON"},
        {"Are you sure you want to switch Relay 1 off?", "01,05,00,00,00,00", "0", "OFF"},
    };
    for (const auto& s : switches) {
        p.Dialogs.Answers = {IDialogs::ResultYes};
        TProgram::Click(p.On(page, "SpeedRO1"));
        QCOMPARE(p.Dialogs.Boxes.back().Caption, QString("Confirm"));
        QCOMPARE(p.Dialogs.Boxes.back().Text, QString(s.Question));
        QCOMPARE(p.Dialogs.Boxes.back().Buttons, IDialogs::YesNo);
        QTRY_COMPARE_WITH_TIMEOUT(meter.State().value("relay.0"), QString(s.Held), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString(s.Shown), Wait);
        QCOMPARE(meter.State().value("relay.1"), QString("0"));
        // The write, then at once its read-back.
        const qsizetype at = p.Sent.lastIndexOf(s.Write);
        QVERIFY(at >= 0);
        QCOMPARE(p.Sent.value(at + 1), Relays);
    }

    // Energy preset: the operator types the new value into the input box.
    p.Dialogs.InputAnswers = {{true, "123.4"}};
    TProgram::Click(p.Metering(presetLabel));
    QCOMPARE(p.Dialogs.Inputs.size(), std::size_t(1));
    QCOMPARE(p.Dialogs.Inputs[0].Caption, QString("Initializing energy (Are you sure?)"));
    QTRY_VERIFY2_WITH_TIMEOUT(Near(Tenths(meter, counter), 1234),
                              qPrintable(QString::number(Tenths(meter, counter))), Wait);
    QTRY_VERIFY2_WITH_TIMEOUT(p.MeteringText(presetLabel).startsWith("123.4 k") ||
                                  p.MeteringText(presetLabel).startsWith("123.5 k"),
                              qPrintable(p.MeteringText(presetLabel)), Wait);
    for (int i = 0; i < 6; ++i)
        if (i != counter)
            QVERIFY2(Near(Tenths(meter, i), 1000 * (i + 1)), qPrintable(QString::number(i)));

    // Energy reset: the extended layout clears all six counters through the reset register,
    // the basic one writes zero into its two.
    p.Dialogs.Answers = {IDialogs::ResultYes};
    TProgram::Click(p.On(page, "ButtonClearEnergy"));
    QCOMPARE(p.Dialogs.Boxes.back().Text, QString("Are you sure you want to reset energy?"));
    QTRY_VERIFY_WITH_TIMEOUT(Near(Tenths(meter, 0), 0) && Near(Tenths(meter, 1), 0), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.MeteringText("LabelEp_total").startsWith("0."), Wait);
    QVERIFY(p.MeteringText("LabelEq_total").startsWith("0."));
    for (int i = 0; i < 6; ++i) {
        const qint64 expected = zeroed.contains(i) ? 0 : (i == counter ? 1234 : 1000 * (i + 1));
        QVERIFY2(Near(Tenths(meter, i), expected),
                 qPrintable(QString("%1: %2").arg(i).arg(Tenths(meter, i))));
    }
    QVERIFY(p.Disconnect());

    // Every command went out once, followed by its read-back; nothing was refused or lost.
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests, p.Sent);
    const qsizetype reset = IndexOf(requests, resetWrite);
    QVERIFY2(reset > 0, qPrintable(requests.join(' ')));
    QCOMPARE(requests.value(reset + 1), EnergyRead(version));
    QCOMPARE(requests.count(resetWrite), 1);
    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));
    const auto counters = meter.Sim.Stop();
    for (const char* exception : {"exception01", "exception02", "exception03", "exception04"})
        QCOMPARE(counters.value(exception), 0);
    // The boxes were the three confirmations, nothing else.
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(3));
    for (const auto& box : p.Dialogs.Boxes)
        QCOMPARE(box.Caption, QString("Confirm"));
}

void TestScenarioOperator::pagesFollowTheMeterVersion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("relayAlarms");
    QTest::newRow("3.05: basic layout") << "3.05" << false << false;
    QTest::newRow("3.20: extended layout with relay alarms") << "3.20" << true << true;
    QTest::newRow("3.85: basic layout with relay alarms") << "3.85" << false << true;
}

void TestScenarioOperator::pagesFollowTheMeterVersion() {
    QFETCH(QString, version);
    QFETCH(bool, extended);
    QFETCH(bool, relayAlarms);
    TSimMeter meter({"--version-text", version}, MeterMemory("energy.0=500\nenergy.2=700\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1180) >= 1, Wait);
    QCOMPARE(p.Link().SoftwareVersion(), version);

    // The metering page: a basic meter has no import/export counters to show.
    QVERIFY(p.Metering("LabelEp_total")->isVisible());
    for (const QString& name : ExtendedEnergyLabels)
        QVERIFY2(p.Metering(name)->isVisible() == extended, qPrintable(name));
    if (extended)
        QTRY_VERIFY_WITH_TIMEOUT(p.MeteringText("LabelEp_imp").startsWith("70."), Wait);

    // The settings page: the lists, the digital-output energy choices and the relay alarms.
    p.W->SettingsGeneralSettings()->trigger();
    QCOMPARE(p.W->StatusText(0), QString("General Settings @ 1"));
    const std::uint16_t lastRead = relayAlarms ? 0x120A : (extended ? 0x1208 : 0x1300);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(lastRead) >= 1, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().PendingQueries().empty(), Wait);
    auto* baud = p.Settings<QComboBox>("ComboDevBaud");
    auto* wiring = p.Settings<QComboBox>("ComboVWire");
    QCOMPARE(baud->count(), extended ? 7 : 5);
    QCOMPARE(baud->itemText(baud->count() - 1), QString(extended ? "57600" : "19200"));
    QCOMPARE(wiring->count(), extended ? 5 : 3);
    for (const char* name : {"Label18", "Label19", "ComboDO1Output", "ComboDO2Output"})
        QVERIFY2(p.Settings(name)->isVisible() == extended, name);
    QCOMPARE(p.Settings<QGroupBox>("GroupBox11")->isVisible(), relayAlarms);
    // Filled from the meter within the shortened lists.
    QCOMPARE(baud->currentText(), QString("19200"));
    QCOMPARE(wiring->currentText(), QString("2LL"));
    QCOMPARE(p.SettingsText("EditPT1"), QString("400"));
    QCOMPARE(p.SettingsText("EditCT2"), QString("5"));
    QVERIFY(p.Disconnect());

    // The meter was asked only for blocks it has: no exception, the right energy read, and no
    // read of a block that the layout lacks.
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests, p.Sent);
    QVERIFY(requests.contains(EnergyRead(extended ? "3.20" : "3.05")));
    QVERIFY(!requests.contains(EnergyRead(extended ? "3.05" : "3.20")));
    QCOMPARE(requests.contains("01,03,12,08,00,02"), extended);
    QCOMPARE(requests.contains("01,03,12,0A,00,05"), relayAlarms);
    const auto counters = meter.Sim.Stop();
    QCOMPARE(counters.value("exception02"), 0);
    QCOMPARE(counters.value("answers"), counters.value("requests"));
    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));
}

QTEST_MAIN(TestScenarioOperator)
#include "tst_scenario_operator.moc"
