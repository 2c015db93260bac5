#include "settings/SettingsChoices.h"

#include <utility>

namespace choices {

const QStringList BaudRates = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
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

} // namespace choices

namespace {

const QStringList ParityItems = {"Even", "Odd", "None 2", "None 1"};
const QStringList WiringItems = {"3LN", "3LL", "2LL", "1LL", "1LN"};
const QStringList QModeItems = {"Method 1 (True)", "Method 2 (Generalized)"};
const QStringList LoadConventionItems = {"IEC", "IEEE"};
const QStringList ROTypeItems = {"Latch", "Momentary", "Alarm"};
const QStringList DOTypeItems = {"Energy Pulse", "Alarm"};
const QStringList DO1OutputItems = {"Ep_total", "Ep_imp", "Ep_exp"};
const QStringList DO2OutputItems = {"Eq_total", "Eq_imp", "Eq_exp"};
const QStringList AlarmOperators = {"  <", "  >"};
const QStringList AlarmOutputItems = {"RO1", "RO2", "RO1 & RO2"};
const QStringList RelayOutputItems = {"Latch", "Momentary"};
const QStringList AOModeItems = {"0~5V/0~20mA", "1~5V/4~20mA"};
const QStringList AOChannels = {
    "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
    "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
    "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total"};
const QStringList LimitSigns = {" +", " -"};
const QStringList None;

const std::pair<std::string_view, const QStringList*> Lists[] = {
    {"Baudrate", &choices::BaudRates},
    {"Parity", &ParityItems},
    {"VoltageWiring", &WiringItems},
    {"QMode", &QModeItems},
    {"LoadConvention", &LoadConventionItems},
    {"ROType", &ROTypeItems},
    {"DOType", &DOTypeItems},
    {"DO1Output", &DO1OutputItems},
    {"DO2Output", &DO2OutputItems},
    {"AlarmItems", &choices::AlarmChannels},
    {"RO1AlarmItems", &choices::AlarmChannels},
    {"RO2AlarmItems", &choices::AlarmChannels},
    {"AlarmOperator", &AlarmOperators},
    {"RO1AlarmOperator", &AlarmOperators},
    {"RO2AlarmOperator", &AlarmOperators},
    {"AlarmOutput", &AlarmOutputItems},
    {"RO1AlarmOutput", &RelayOutputItems},
    {"RO2AlarmOutput", &RelayOutputItems},
    {"AO1Mode", &AOModeItems},
    {"AO2Mode", &AOModeItems},
    {"AO1Object", &AOChannels},
    {"AO2Object", &AOChannels},
    {"AO1HLOpt", &LimitSigns},
    {"AO1LLOpt", &LimitSigns},
    {"AO2HLOpt", &LimitSigns},
    {"AO2LLOpt", &LimitSigns},
};

} // namespace

const QStringList& SettingsChoiceItems(std::string_view field) {
    for (const auto& [name, items] : Lists)
        if (name == field)
            return *items;
    return None;
}
