#include "meter/MeterSettings.h"

namespace {

using S = TMeterSettings;

const QStringList BaudRates = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
const QStringList ParityItems = {"Even", "Odd", "None 2", "None 1"};
const QStringList WiringItems = {"3LN", "3LL", "2LL", "1LL", "1LN"};
const QStringList QModeItems = {"Method 1 (True)", "Method 2 (Generalized)"};
const QStringList LoadConventionItems = {"IEC", "IEEE"};
const QStringList ROTypeItems = {"Latch", "Momentary", "Alarm"};
const QStringList DOTypeItems = {"Energy Pulse", "Alarm"};
const QStringList DO1OutputItems = {"Ep_total", "Ep_imp", "Ep_exp"};
const QStringList DO2OutputItems = {"Eq_total", "Eq_imp", "Eq_exp"};
// The index is the meter's alarm parameter type.
const QStringList AlarmChannels = {"None",
                                   "Volts AN (V)",
                                   "Volts BN (V)",
                                   "Volts CN (V)",
                                   "Volts AB (V)",
                                   "Volts BC (V)",
                                   "Volts CA (V)",
                                   "I A (A)",
                                   "I B (A)",
                                   "I C (A)",
                                   "Volts LN Average (V)",
                                   "Volts LL Average (V)",
                                   "I Average (A)",
                                   "Watt Total (kW)",
                                   "VAR Total (kvar)",
                                   "VA Total (kVA)",
                                   "Frequency (Hz)",
                                   "Pwr Factor Total",
                                   "I N (A)"};
const QStringList AlarmOperators = {"  <", "  >"};
const QStringList AlarmOutputItems = {"RO1", "RO2", "RO1 & RO2"};
const QStringList RelayOutputItems = {"Latch", "Momentary"};
const QStringList AOModeItems = {"0~5V/0~20mA", "1~5V/4~20mA"};
const QStringList AOChannels = {
    "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
    "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
    "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total"};
const QStringList LimitSigns = {" +", " -"};

// Entries a meter without the extended layout offers.
constexpr int BasicBaudRates = 5;
constexpr int BasicWirings = 3;

TSettingsField Text(const char* name, QString S::*field, const char* label, const char* control,
                    const QStringList* items = nullptr) {
    return {name, field, nullptr, label, control, items};
}
TSettingsField Choice(const char* name, int S::*field, const char* label, const char* control,
                      const QStringList& items) {
    return {name, nullptr, field, label, control, &items};
}

} // namespace

const std::array<TSettingsField, MeterSettingsFieldCount>& MeterSettingsFields() {
    static const std::array<TSettingsField, MeterSettingsFieldCount> Fields = {{
        Text("Password", &S::Password, "Password", "EditPassword"),
        Text("Address", &S::Address, "Address", "EditDevAddr"),
        // The text of the chosen entry: the baud rate itself.
        Text("Baudrate", &S::Baudrate, "Baud Rate", "ComboDevBaud", &BaudRates),
        Choice("Parity", &S::Parity, "Parity", "RadioGroupParity", ParityItems),
        Choice("VoltageWiring", &S::VoltageWiring, "Voltage Wiring", "ComboVWire", WiringItems),
        Text("PT1", &S::PT1, "PT1", "EditPT1"),
        Text("PT2", &S::PT2, "PT2", "EditPT2"),
        Text("CT1", &S::CT1, "CT1", "EditCT1"),
        Text("CT2", &S::CT2, "CT2", "EditCT2"),
        Choice("QMode", &S::QMode, "VAR Calculation Method", "RadioGroupQMode", QModeItems),
        Choice("LoadConvention", &S::LoadConvention, "Load Type Convention",
               "RadioGroupLoadConvention", LoadConventionItems),
        Choice("ROType", &S::ROType, "RO Type", "ComboROType", ROTypeItems),
        Choice("DOType", &S::DOType, "DO Type", "ComboDOType", DOTypeItems),
        Choice("DO1Output", &S::DO1Output, "DO1 Energy Output", "ComboDO1Output", DO1OutputItems),
        Choice("DO2Output", &S::DO2Output, "DO2 Energy Output", "ComboDO2Output", DO2OutputItems),
        Text("DOPulseConst", &S::DOPulseConst, "DO Energy Pulse Const", "EditDOPulseConst"),
        Text("BacklightTime", &S::BacklightTime, "Backlight Time", "EditLightTime"),
        Choice("AlarmItems", &S::AlarmItems, "Alarm Channel", "ComboAlarmVar", AlarmChannels),
        Choice("AlarmOperator", &S::AlarmOperator, "Alarm Setting", "ComboAlarmOperator",
               AlarmOperators),
        Text("AlarmSetpoint", &S::AlarmSetpoint, "Alarm Setpoint", "EditAlarmSetpoint"),
        Text("AlarmDelay", &S::AlarmDelay, "Alarm Delay", "EditAlarmDelay"),
        Choice("AlarmOutput", &S::AlarmOutput, "Alarm Output", "ComboAlarmOutput",
               AlarmOutputItems),
        Choice("RO1AlarmItems", &S::RO1AlarmItems, "RO1 Alarm Channel", "ComboRO1AlarmVar",
               AlarmChannels),
        Choice("RO1AlarmOperator", &S::RO1AlarmOperator, "RO1 Alarm Setting",
               "ComboRO1AlarmOperator", AlarmOperators),
        Text("RO1AlarmSetpoint", &S::RO1AlarmSetpoint, "RO1 Alarm Setpoint",
             "EditRO1AlarmSetpoint"),
        Text("RO1AlarmDelay", &S::RO1AlarmDelay, "RO1 Alarm Delay", "EditRO1AlarmDelay"),
        Choice("RO1AlarmOutput", &S::RO1AlarmOutput, "RO1 Alarm Output", "ComboRO1AlarmOutput",
               RelayOutputItems),
        Choice("RO2AlarmItems", &S::RO2AlarmItems, "RO2 Alarm Channel", "ComboRO2AlarmVar",
               AlarmChannels),
        Choice("RO2AlarmOperator", &S::RO2AlarmOperator, "RO2 Alarm Setting",
               "ComboRO2AlarmOperator", AlarmOperators),
        Text("RO2AlarmSetpoint", &S::RO2AlarmSetpoint, "RO2 Alarm Setpoint",
             "EditRO2AlarmSetpoint"),
        Text("RO2AlarmDelay", &S::RO2AlarmDelay, "RO2 Alarm Delay", "EditRO2AlarmDelay"),
        Choice("RO2AlarmOutput", &S::RO2AlarmOutput, "RO2 Alarm Output", "ComboRO2AlarmOutput",
               RelayOutputItems),
        Choice("AO1Mode", &S::AO1Mode, "AO1 Output Mode", "ComboAO1Mode", AOModeItems),
        Choice("AO1Object", &S::AO1Object, "AO1 Raw Channel", "ComboAO1Channel", AOChannels),
        Choice("AO1HLOpt", &S::AO1HLOpt, "AO1 High Limit Sign", "ComboAO1HLOpt", LimitSigns),
        Text("AO1HighLimit", &S::AO1HighLimit, "AO1 High Limit", "EditAO1HighLimit"),
        Choice("AO1LLOpt", &S::AO1LLOpt, "AO1 Low Limit Sign", "ComboAO1LLOpt", LimitSigns),
        Text("AO1LowLimit", &S::AO1LowLimit, "AO1 Low Limit", "EditAO1LowLimit"),
        Choice("AO2Mode", &S::AO2Mode, "AO2 Output Mode", "ComboAO2Mode", AOModeItems),
        Choice("AO2Object", &S::AO2Object, "AO2 Raw Channel", "ComboAO2Channel", AOChannels),
        Choice("AO2HLOpt", &S::AO2HLOpt, "AO2 High Limit Sign", "ComboAO2HLOpt", LimitSigns),
        Text("AO2HighLimit", &S::AO2HighLimit, "AO2 High Limit", "EditAO2HighLimit"),
        Choice("AO2LLOpt", &S::AO2LLOpt, "AO2 Low Limit Sign", "ComboAO2LLOpt", LimitSigns),
        Text("AO2LowLimit", &S::AO2LowLimit, "AO2 Low Limit", "EditAO2LowLimit"),
    }};
    return Fields;
}

const TSettingsField* FindSettingsField(QString S::*text) {
    for (const TSettingsField& f : MeterSettingsFields())
        if (f.Text == text)
            return &f;
    return nullptr;
}

const TSettingsField* FindSettingsField(int S::*choice) {
    for (const TSettingsField& f : MeterSettingsFields())
        if (f.Choice == choice)
            return &f;
    return nullptr;
}

const TSettingsField* FindSettingsField(std::string_view name) {
    for (const TSettingsField& f : MeterSettingsFields())
        if (name == f.Name)
            return &f;
    return nullptr;
}

int OfferedEntries(const TSettingsField& field, bool extendedLayout) {
    if (!field.Items)
        return 0;
    if (!extendedLayout && field.Text == &S::Baudrate)
        return BasicBaudRates;
    if (!extendedLayout && field.Choice == &S::VoltageWiring)
        return BasicWirings;
    return static_cast<int>(field.Items->size());
}
