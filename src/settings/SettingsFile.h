// Saving and loading the settings record as a settings file: section "KT580", one key
// per field. Other sections of a file saved over are kept.
#pragma once

#include "settings/MeterSettings.h"
#include "settings/SettingsFileModel.h"

#include <QString>
#include <string_view>

inline constexpr std::string_view SettingsSection = "KT580";

// Sets the 44 keys of the section from the record: texts as they stand (UTF-8), choices
// as decimal integers.
void StoreSettings(TSettingsFileModel& model, const TMeterSettings& settings);

// All 44 fields from the section: a missing text is empty, a missing or non-integer
// choice is 0.
TMeterSettings RestoreSettings(const TSettingsFileModel& model);

// A choice value: decimal, or hexadecimal after 0x, 0X or $, with an optional sign and
// within 32 bits; 0 for anything else.
int ChoiceValue(std::string_view text);

// On failure, false with "Cannot create file <path>" or "Cannot open file <path>" in
// error (the full path); the file and the record are then unchanged.
bool SaveSettingsFile(const QString& path, const TMeterSettings& settings, QString& error);
bool LoadSettingsFile(const QString& path, TMeterSettings& settings, QString& error);
