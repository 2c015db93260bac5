#include "settings/MeterSettings.h"

namespace {

using S = TMeterSettings;

constexpr TSettingsField Text(const char* name, QString S::*field) {
    return {name, field, nullptr};
}
constexpr TSettingsField Choice(const char* name, int S::*field) {
    return {name, nullptr, field};
}

} // namespace

const std::array<TSettingsField, MeterSettingsFieldCount>& MeterSettingsFields() {
    static const std::array<TSettingsField, MeterSettingsFieldCount> Fields = {{
        Text("Password", &S::Password),
        Text("Address", &S::Address),
        Text("Baudrate", &S::Baudrate),
        Choice("Parity", &S::Parity),
        Choice("VoltageWiring", &S::VoltageWiring),
        Text("PT1", &S::PT1),
        Text("PT2", &S::PT2),
        Text("CT1", &S::CT1),
        Text("CT2", &S::CT2),
        Choice("QMode", &S::QMode),
        Choice("LoadConvention", &S::LoadConvention),
        Choice("ROType", &S::ROType),
        Choice("DOType", &S::DOType),
        Choice("DO1Output", &S::DO1Output),
        Choice("DO2Output", &S::DO2Output),
        Text("DOPulseConst", &S::DOPulseConst),
        Text("BacklightTime", &S::BacklightTime),
        Choice("AlarmItems", &S::AlarmItems),
        Choice("AlarmOperator", &S::AlarmOperator),
        Text("AlarmSetpoint", &S::AlarmSetpoint),
        Text("AlarmDelay", &S::AlarmDelay),
        Choice("AlarmOutput", &S::AlarmOutput),
        Choice("RO1AlarmItems", &S::RO1AlarmItems),
        Choice("RO1AlarmOperator", &S::RO1AlarmOperator),
        Text("RO1AlarmSetpoint", &S::RO1AlarmSetpoint),
        Text("RO1AlarmDelay", &S::RO1AlarmDelay),
        Choice("RO1AlarmOutput", &S::RO1AlarmOutput),
        Choice("RO2AlarmItems", &S::RO2AlarmItems),
        Choice("RO2AlarmOperator", &S::RO2AlarmOperator),
        Text("RO2AlarmSetpoint", &S::RO2AlarmSetpoint),
        Text("RO2AlarmDelay", &S::RO2AlarmDelay),
        Choice("RO2AlarmOutput", &S::RO2AlarmOutput),
        Choice("AO1Mode", &S::AO1Mode),
        Choice("AO1Object", &S::AO1Object),
        Choice("AO1HLOpt", &S::AO1HLOpt),
        Text("AO1HighLimit", &S::AO1HighLimit),
        Choice("AO1LLOpt", &S::AO1LLOpt),
        Text("AO1LowLimit", &S::AO1LowLimit),
        Choice("AO2Mode", &S::AO2Mode),
        Choice("AO2Object", &S::AO2Object),
        Choice("AO2HLOpt", &S::AO2HLOpt),
        Text("AO2HighLimit", &S::AO2HighLimit),
        Choice("AO2LLOpt", &S::AO2LLOpt),
        Text("AO2LowLimit", &S::AO2LowLimit),
    }};
    return Fields;
}
