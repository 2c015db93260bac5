// Saving and loading the settings record as a settings file: section "KT580", one key
// per field. Other sections of a file saved over are kept.
#pragma once

#include "meter/MeterSettings.h"
#include "settings/SettingsFileModel.h"

#include <QString>
#include <string_view>

inline constexpr std::string_view SettingsSection = "KT580";

// Sets the 44 keys of the section from the record: texts as they stand, one byte per
// character (the file is 8-bit text), choices as decimal integers. A text with a character
// beyond one byte is refused with a message naming its field, and nothing is set.
bool StoreSettings(TSettingsFileModel& model, const TMeterSettings& settings, QString& error);

// All 44 fields from the section: a missing text is empty, a missing or non-integer
// choice is 0. A text longer than a field holds is refused, never cut: false with a message,
// and the record unchanged.
bool RestoreSettings(const TSettingsFileModel& model, TMeterSettings& settings, QString& error);

// A choice value: decimal, or hexadecimal after 0x, 0X or $, with an optional sign and
// within 32 bits; 0 for anything else.
int ChoiceValue(std::string_view text);

// On failure, false with "Cannot create file <path>" or "Cannot open file <path>" (with
// ": it is too large" past the size limit) in error (the full path); the file and the record
// are then unchanged. Saving replaces the file atomically; where its folder takes no new file,
// a writable file is rewritten in place, never left cut short.
bool SaveSettingsFile(const QString& path, const TMeterSettings& settings, QString& error);
bool LoadSettingsFile(const QString& path, TMeterSettings& settings, QString& error);
