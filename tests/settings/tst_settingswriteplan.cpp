// The write plan of "Update Device": which blocks and fields a record writes for a meter's
// version, the ratios its setpoints are scaled by, its refusals and the line change.
#include "settings/SettingsWritePlan.h"
#include "support/MeterRecords.h"

#include <QLocale>
#include <QTest>

#include <algorithm>
#include <functional>

Q_DECLARE_METATYPE(std::function<void(TMeterSettings&)>)
Q_DECLARE_METATYPE(TScaling)

namespace {

using TChange = std::function<void(TMeterSettings&)>;

// Every field chosen and convertible, PT 400/400 and CT 5/5.
TMeterSettings Complete() {
    TMeterSettings s;
    for (const TSettingsField& f : MeterSettingsFields()) {
        if (f.Text)
            s.*f.Text = QStringLiteral("5");
        else
            s.*f.Choice = 0;
    }
    s.Password = "0";
    s.Address = "1";
    s.Baudrate = "9600";
    s.PT1 = "400";
    s.PT2 = "400";
    s.DOPulseConst = "800";
    return s;
}

// The register value a write puts at a register, from the query text.
int Register(const TSettingsWritePlan& plan, int address) {
    const int block = address >= 0x1300   ? 0x1300
                      : address >= 0x120A ? 0x120A
                      : address >= 0x1208 ? 0x1208
                      : address >= 0x1200 ? 0x1200
                                          : 0x1100;
    const TSettingsWrite* w = plan.Write(static_cast<uint16_t>(block));
    if (!w)
        return -1;
    const QByteArrayList bytes = QByteArray::fromStdString(w->Query).split(',');
    const int at = 7 + 2 * (address - block);
    return int(bytes[at].toUInt(nullptr, 16) << 8 | bytes[at + 1].toUInt(nullptr, 16));
}

QStringList Names(const std::vector<const TSettingsField*>& fields) {
    QStringList names;
    for (const TSettingsField* f : fields)
        names << f->Name;
    return names;
}

} // namespace

class TestSettingsWritePlan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void setpointScaledByRatiosWritten_data();
    void setpointScaledByRatiosWritten();
    void onlyVisibleFieldsWritten_data();
    void onlyVisibleFieldsWritten();
    void refusals_data();
    void refusals();
    void queriesAndLine();
    void changedFields();
    void blocksComputedFromTheRatios_data();
    void blocksComputedFromTheRatios();
};

void TestSettingsWritePlan::setpointScaledByRatiosWritten_data() {
    QTest::addColumn<TScaling>("meter"); // the link's ratios before the write
    QTest::addColumn<QString>("version");
    QTest::addColumn<TChange>("change");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value"); // -2: refused
    const TScaling pt4{4.0, 1.0, 0};
    QTest::newRow("new PT ratio, relay 1 voltage")
        << pt4 << "3.20" << TChange([](TMeterSettings& s) {
               s.PT1 = "11000", s.PT2 = "110", s.RO1AlarmItems = 1, s.RO1AlarmSetpoint = "12000";
           })
        << 0x1204 << 1200;
    QTest::newRow("right only for the new ratio")
        << pt4 << "3.20" << TChange([](TMeterSettings& s) {
               s.PT1 = "11000", s.PT2 = "110", s.RO1AlarmItems = 1, s.RO1AlarmSetpoint = "500000";
           })
        << 0x1204 << 50000;
    QTest::newRow("single alarm on an older meter")
        << pt4 << "3.05" << TChange([](TMeterSettings& s) {
               s.PT1 = "23000", s.PT2 = "100", s.AlarmItems = 1, s.AlarmSetpoint = "23000";
           })
        << 0x1204 << 1000;
    QTest::newRow("new CT ratio, relay 2 current")
        << pt4 << "3.20" << TChange([](TMeterSettings& s) {
               s.CT1 = "100", s.CT2 = "5", s.RO2AlarmItems = 7, s.RO2AlarmSetpoint = "200";
           })
        << 0x120B << 10000;
    QTest::newRow("power by both new ratios") << pt4 << "4.00" << TChange([](TMeterSettings& s) {
        s.PT1 = "10000", s.PT2 = "100", s.CT1 = "100", s.CT2 = "5";
        s.RO2AlarmItems = 13, s.RO2AlarmSetpoint = "-2000";
    }) << 0x120B << (-1000 & 0xFFFF);
    // A divisor of 0 leaves the link's ratio as it is when the block is read back.
    QTest::newRow("PT2 0 keeps the meter's ratio")
        << pt4 << "3.20" << TChange([](TMeterSettings& s) {
               s.PT2 = "0", s.RO1AlarmItems = 1, s.RO1AlarmSetpoint = "250";
           })
        << 0x1204 << 625;
    QTest::newRow("too large for the new ratio")
        << TScaling{1000.0, 1.0, 0} << "3.20" << TChange([](TMeterSettings& s) {
               s.PT1 = "400", s.PT2 = "400", s.RO1AlarmItems = 1, s.RO1AlarmSetpoint = "12000";
           })
        << 0x1204 << -2;
}

void TestSettingsWritePlan::setpointScaledByRatiosWritten() {
    QFETCH(TScaling, meter);
    QFETCH(QString, version);
    QFETCH(TChange, change);
    QFETCH(int, address);
    QFETCH(int, value);
    TMeterSettings s = Complete();
    change(s);
    const TSettingsWriteOutcome outcome = PlanSettingsWrite(s, version, meter);
    if (value == -2) {
        QVERIFY(std::holds_alternative<TSettingsWriteRefusal>(outcome));
        QCOMPARE(std::get<TSettingsWriteRefusal>(outcome).Message,
                 QString("'12000' is out of range for RO1 Alarm Setpoint"));
        return;
    }
    QVERIFY(std::holds_alternative<TSettingsWritePlan>(outcome));
    QCOMPARE(Register(std::get<TSettingsWritePlan>(outcome), address), value);
}

void TestSettingsWritePlan::onlyVisibleFieldsWritten_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("notWritten");
    const QStringList single = {"AlarmItems", "AlarmOperator", "AlarmSetpoint", "AlarmDelay",
                                "AlarmOutput"};
    const QStringList relay1 = {"RO1AlarmItems", "RO1AlarmOperator", "RO1AlarmSetpoint",
                                "RO1AlarmDelay", "RO1AlarmOutput"};
    const QStringList relay2 = {"RO2AlarmItems", "RO2AlarmOperator", "RO2AlarmSetpoint",
                                "RO2AlarmDelay", "RO2AlarmOutput"};
    const QStringList outputs = {"DO1Output", "DO2Output"};
    QTest::newRow("3.05") << "3.05" << single << relay1 + relay2 + outputs;
    QTest::newRow("3.10") << "3.10" << single + outputs << relay1 + relay2;
    QTest::newRow("3.85") << "3.85" << relay1 + relay2 << single + outputs;
    QTest::newRow("4.00") << "4.00" << relay1 + relay2 + outputs << single;
}

void TestSettingsWritePlan::onlyVisibleFieldsWritten() {
    QFETCH(QString, version);
    QFETCH(QStringList, written);
    QFETCH(QStringList, notWritten);
    // The fields a page of that version hides have no entry chosen: the write goes ahead
    // without them.
    TMeterSettings s = Complete();
    for (const QString& name : notWritten) {
        const TSettingsField* f = FindSettingsField(name.toStdString());
        if (f->Text)
            s.*f->Text = "hidden";
        else
            s.*f->Choice = -1;
    }
    const TSettingsWriteOutcome outcome = PlanSettingsWrite(s, version, TScaling{});
    QVERIFY(std::holds_alternative<TSettingsWritePlan>(outcome));
    const QStringList names = Names(std::get<TSettingsWritePlan>(outcome).Fields());
    QCOMPARE(names.size(), 44 - notWritten.size());
    for (const QString& name : written)
        QVERIFY2(names.contains(name), qPrintable(name));
}

void TestSettingsWritePlan::refusals_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<TChange>("change");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    using R = TSettingsWriteRefusal;
    const TChange none = [](TMeterSettings&) {};
    QTest::newRow("version unknown") << "" << none << int(R::VersionUnknown)
                                     << "The meter now connected has not been read yet: its "
                                        "software version, and so its settings layout, is not "
                                        "known. Nothing was written. Wait until the pages show "
                                        "the meter's values, then write again.";
    QTest::newRow("address 0") << "3.20" << TChange([](auto& s) { s.Address = "0"; })
                               << int(R::InvalidAddress) << "Invalid device address";
    QTest::newRow("address abc") << "3.20" << TChange([](auto& s) { s.Address = "abc"; })
                                 << int(R::Conversion) << "'abc' is not a valid integer value";
    QTest::newRow("no parity") << "3.20" << TChange([](auto& s) { s.Parity = -1; })
                               << int(R::Conversion) << "No entry chosen for Parity";
    QTest::newRow("no baud rate") << "3.20" << TChange([](auto& s) { s.Baudrate.clear(); })
                                  << int(R::Conversion) << "No entry chosen for Baud Rate";
    QTest::newRow("no relay 2 output")
        << "3.85" << TChange([](auto& s) { s.RO2AlarmOutput = -1; }) << int(R::Conversion)
        << "No entry chosen for RO2 Alarm Output";
    QTest::newRow("no AO2 channel") << "3.05" << TChange([](auto& s) { s.AO2Object = -1; })
                                    << int(R::Conversion) << "No entry chosen for AO2 Raw Channel";
    QTest::newRow("password beyond its register")
        << "3.20" << TChange([](auto& s) { s.Password = "65536"; }) << int(R::Conversion)
        << "'65536' is out of range for Password";
    QTest::newRow("negative limit")
        << "3.20" << TChange([](auto& s) { s.AO1LowLimit = "-5 %"; }) << int(R::Conversion)
        << "'-5 %' is out of range for AO1 Low Limit";
    QTest::newRow("57600 on an older meter")
        << "3.05" << TChange([](auto& s) { s.Baudrate = "57600"; }) << int(R::Conversion)
        << "'57600' is out of range for Baud Rate";
    QTest::newRow("1LN on an older meter")
        << "3.85" << TChange([](auto& s) { s.VoltageWiring = 4; }) << int(R::Conversion)
        << "'4' is out of range for Voltage Wiring";
    QTest::newRow("past the list") << "3.20" << TChange([](auto& s) { s.Parity = 4; })
                                   << int(R::Conversion) << "'4' is out of range for Parity";
    // The first field in the order of the writes wins.
    QTest::newRow("register order") << "3.20" << TChange([](auto& s) {
        s.AO1Mode = -1;
        s.CT1 = "five";
    }) << int(R::Conversion) << "'five' is not a valid integer value";
}

void TestSettingsWritePlan::refusals() {
    QFETCH(QString, version);
    QFETCH(TChange, change);
    QFETCH(int, kind);
    QFETCH(QString, message);
    TMeterSettings s = Complete();
    change(s);
    const TSettingsWriteOutcome outcome = PlanSettingsWrite(s, version, TScaling{});
    QVERIFY(std::holds_alternative<TSettingsWriteRefusal>(outcome));
    const auto& refusal = std::get<TSettingsWriteRefusal>(outcome);
    QCOMPARE(int(refusal.Kind), kind);
    QCOMPARE(refusal.Message, message);
}

void TestSettingsWritePlan::queriesAndLine() {
    TMeterSettings s = Complete();
    s.Address = "007";
    s.Baudrate = "4800";
    s.Parity = 2;
    const auto outcome = PlanSettingsWrite(s, "3.85", TScaling{});
    QVERIFY(std::holds_alternative<TSettingsWritePlan>(outcome));
    const TSettingsWritePlan& plan = std::get<TSettingsWritePlan>(outcome);
    std::vector<std::string> heads;
    for (const std::string& q : plan.Queries())
        heads.push_back(q.substr(0, 14));
    QCOMPARE(heads, (std::vector<std::string>{"00,10,11,00,00", "00,10,12,00,00", "00,10,13,00,00",
                                              "00,03,11,00,00", "00,03,12,00,00", "00,03,13,00,00",
                                              "00,10,12,0A,00", "00,03,12,0A,00"}));
    // The address goes out as the number it is.
    QCOMPARE(Register(plan, 0x1101), 7);
    QCOMPARE(plan.Line, (TSettingsLineChange{7, 4800, TParity::None, TStopBits::_2}));
}

void TestSettingsWritePlan::changedFields() {
    TMeterSettings meter = Complete();
    meter.RO1AlarmItems = 1;
    meter.RO1AlarmSetpoint = "250.0";
    TMeterSettings typed = meter;
    typed.RO1AlarmSetpoint = "250"; // the same register value
    typed.CT1 = "10";
    typed.DO2Output = 2;
    const auto a = PlanSettingsWrite(meter, "4.00", TScaling{});
    const auto b = PlanSettingsWrite(typed, "4.00", TScaling{});
    QCOMPARE(Names(ChangedFields(std::get<TSettingsWritePlan>(a), std::get<TSettingsWritePlan>(b))),
             (QStringList{"CT1", "DO2Output"}));
    // A plan for an older meter leaves fields out: they count as changed.
    const auto older = PlanSettingsWrite(meter, "3.05", TScaling{});
    QCOMPARE(
        Names(ChangedFields(std::get<TSettingsWritePlan>(a), std::get<TSettingsWritePlan>(older)))
            .size(),
        5 + 10 + 2); // the single alarm in; both relay rows and the DO outputs out
}

void TestSettingsWritePlan::blocksComputedFromTheRatios_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<TChange>("change");
    QTest::addColumn<QList<int>>("dependent"); // the blocks computed from block 0x1100
    const TChange currentAlarm = [](TMeterSettings& s) {
        s.RO1AlarmItems = 7, s.RO1AlarmSetpoint = "4";
    };
    QTest::newRow("same ratios: nothing depends")
        << "3.20" << TChange(currentAlarm) << QList<int>{};
    QTest::newRow("new CT: relay 1 on a current") << "3.20" << TChange([=](TMeterSettings& s) {
        currentAlarm(s);
        s.CT1 = "7";
    }) << QList<int>{0x1200};
    QTest::newRow("new CT: relay 1 on a voltage, relay 2 on a current")
        << "3.20" << TChange([](TMeterSettings& s) {
               s.CT1 = "7", s.RO1AlarmItems = 1, s.RO2AlarmItems = 7, s.RO2AlarmSetpoint = "4";
           })
        << QList<int>{0x120A};
    QTest::newRow("new PT: single alarm on a voltage") << "3.05" << TChange([](TMeterSettings& s) {
        s.PT1 = "800", s.AlarmItems = 1, s.AlarmSetpoint = "400";
    }) << QList<int>{0x1200};
    QTest::newRow("new PT: alarms on no channel")
        << "3.20" << TChange([](TMeterSettings& s) { s.PT1 = "800"; }) << QList<int>{};
    // Not representable at the meter's present ratio: certainly computed from the new one.
    QTest::newRow("setpoint that fits only the new ratio")
        << "3.20" << TChange([](TMeterSettings& s) {
               s.PT1 = "11000", s.PT2 = "110", s.RO1AlarmItems = 1, s.RO1AlarmSetpoint = "500000";
           })
        << QList<int>{0x1200};
}

void TestSettingsWritePlan::blocksComputedFromTheRatios() {
    QFETCH(QString, version);
    QFETCH(TChange, change);
    QFETCH(QList<int>, dependent);
    TMeterSettings s = Complete();
    change(s);
    const TSettingsWriteOutcome outcome = PlanSettingsWrite(s, version, TScaling{1.0, 1.0, 0});
    QVERIFY(std::holds_alternative<TSettingsWritePlan>(outcome));
    const auto& plan = std::get<TSettingsWritePlan>(outcome);
    const std::string general = plan.Write(0x1100)->Query;
    QList<int> computed;
    for (const TSettingsWrite& w : plan.Writes) {
        const std::string needs = plan.Needs(w.Query);
        QVERIFY(needs.empty() || needs == general);
        if (!needs.empty())
            computed << w.Block;
    }
    QCOMPARE(computed, dependent);
    // The reads depend on nothing.
    for (const TSettingsWrite& w : plan.Writes)
        QVERIFY(plan.Needs(w.ReadBack).empty());
}

QTEST_MAIN(TestSettingsWritePlan)
#include "tst_settingswriteplan.moc"
