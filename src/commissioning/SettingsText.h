// The meter's settings as a person reads them in a list of changes, the write journal or a
// report: choices by their entry, numbers with their unit; and which fields a settings block
// holds.
#pragma once

#include "meter/MeterSettings.h"

#include <QString>

#include <cstdint>
#include <vector>

// The value of one field with its unit ("400 V", "None 1", "230.0 V" for a setpoint on a volts
// channel). A choice with no entry shows "(none)"; the password is never shown, only "****".
QString SettingValueText(const TSettingsField& field, const TMeterSettings& settings);

// The fields a write of the block carries, in the order of the settings file: for block 0x1200
// the relay 1 alarm fields in the relay alarm layout, the single alarm's otherwise. Empty for an
// address that starts no settings block.
std::vector<const TSettingsField*> BlockFields(std::uint16_t start, bool relayAlarmLayout);

// Whether two records hold the same value in a field.
bool SameValue(const TSettingsField& field, const TMeterSettings& a, const TMeterSettings& b);
