#include "settings/SettingsChoices.h"

#include <utility>

namespace {

// Built on first use: the pages' lists are taken while the program's statics are set up.
struct TLists {
    const QStringList BaudRates = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
    const QStringList Parity = {"Even", "Odd", "None 2", "None 1"};
    const QStringList Wiring = {"3LN", "3LL", "2LL", "1LL", "1LN"};
    const QStringList QMode = {"Method 1 (True)", "Method 2 (Generalized)"};
    const QStringList LoadConvention = {"IEC", "IEEE"};
    const QStringList ROType = {"Latch", "Momentary", "Alarm"};
    const QStringList DOType = {"Energy Pulse", "Alarm"};
    const QStringList DO1Output = {"Ep_total", "Ep_imp", "Ep_exp"};
    const QStringList DO2Output = {"Eq_total", "Eq_imp", "Eq_exp"};
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
    const QStringList AlarmOutput = {"RO1", "RO2", "RO1 & RO2"};
    const QStringList RelayOutput = {"Latch", "Momentary"};
    const QStringList AOMode = {"0~5V/0~20mA", "1~5V/4~20mA"};
    const QStringList AOChannels = {
        "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
        "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
        "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total"};
    const QStringList LimitSigns = {" +", " -"};
    const QStringList None;
};

} // namespace

const QStringList& SettingsChoiceItems(std::string_view field) {
    static const TLists lists;
    const std::pair<std::string_view, const QStringList*> table[] = {
        {"Baudrate", &lists.BaudRates},
        {"Parity", &lists.Parity},
        {"VoltageWiring", &lists.Wiring},
        {"QMode", &lists.QMode},
        {"LoadConvention", &lists.LoadConvention},
        {"ROType", &lists.ROType},
        {"DOType", &lists.DOType},
        {"DO1Output", &lists.DO1Output},
        {"DO2Output", &lists.DO2Output},
        {"AlarmItems", &lists.AlarmChannels},
        {"RO1AlarmItems", &lists.AlarmChannels},
        {"RO2AlarmItems", &lists.AlarmChannels},
        {"AlarmOperator", &lists.AlarmOperators},
        {"RO1AlarmOperator", &lists.AlarmOperators},
        {"RO2AlarmOperator", &lists.AlarmOperators},
        {"AlarmOutput", &lists.AlarmOutput},
        {"RO1AlarmOutput", &lists.RelayOutput},
        {"RO2AlarmOutput", &lists.RelayOutput},
        {"AO1Mode", &lists.AOMode},
        {"AO2Mode", &lists.AOMode},
        {"AO1Object", &lists.AOChannels},
        {"AO2Object", &lists.AOChannels},
        {"AO1HLOpt", &lists.LimitSigns},
        {"AO1LLOpt", &lists.LimitSigns},
        {"AO2HLOpt", &lists.LimitSigns},
        {"AO2LLOpt", &lists.LimitSigns},
    };
    for (const auto& [name, items] : table)
        if (name == field)
            return *items;
    return lists.None;
}
