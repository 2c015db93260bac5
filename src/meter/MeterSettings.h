// The meter's general settings as the operator edits them: text fields hold edit text,
// choice fields the index of a list entry (-1 when none is chosen).
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string_view>

struct TMeterSettings {
    QString Password;
    QString Address = QStringLiteral("1");
    QString Baudrate; // the text of a baud-rate entry, or empty
    int Parity = -1;
    int VoltageWiring = -1;
    QString PT1;
    QString PT2;
    QString CT1;
    QString CT2;
    int QMode = -1;
    int LoadConvention = -1;
    int ROType = -1;
    int DOType = -1;
    int DO1Output = -1;
    int DO2Output = -1;
    QString DOPulseConst;
    QString BacklightTime = QStringLiteral("0");
    int AlarmItems = -1;
    int AlarmOperator = -1;
    QString AlarmSetpoint;
    QString AlarmDelay;
    int AlarmOutput = -1;
    int RO1AlarmItems = -1;
    int RO1AlarmOperator = -1;
    QString RO1AlarmSetpoint;
    QString RO1AlarmDelay;
    int RO1AlarmOutput = -1;
    int RO2AlarmItems = -1;
    int RO2AlarmOperator = -1;
    QString RO2AlarmSetpoint;
    QString RO2AlarmDelay;
    int RO2AlarmOutput = -1;
    int AO1Mode = -1;
    int AO1Object = -1;
    int AO1HLOpt = -1;
    QString AO1HighLimit;
    int AO1LLOpt = -1;
    QString AO1LowLimit;
    int AO2Mode = -1;
    int AO2Object = -1;
    int AO2HLOpt = -1;
    QString AO2HighLimit;
    int AO2LLOpt = -1;
    QString AO2LowLimit;

    bool operator==(const TMeterSettings&) const = default;
};

// One field of the record, described once: its key in the settings file, the member, the name
// the operator knows it by, the page control that shows it and, for a list, its entries.
struct TSettingsField {
    const char* Name;
    QString TMeterSettings::*Text; // set for text fields
    int TMeterSettings::*Choice;   // set for choice fields
    const char* Label;             // for messages that must say which field is meant
    const char* Control;           // object name of the page's control
    const QStringList* Items;      // the entries of a list or radio group; nullptr for a text
};

inline constexpr int MeterSettingsFieldCount = 44;

// The longest text a field holds: the edit boxes take no more, so a longer value cannot be
// shown without cutting it.
inline constexpr int SettingsTextMaxLength = 32767;

// The fields in the order of the settings file.
const std::array<TSettingsField, MeterSettingsFieldCount>& MeterSettingsFields();

// The field of a member, or nullptr.
const TSettingsField* FindSettingsField(QString TMeterSettings::*text);
const TSettingsField* FindSettingsField(int TMeterSettings::*choice);
const TSettingsField* FindSettingsField(std::string_view name);

// How many entries of a list a meter offers: a meter without the extended layout has only
// the first five baud rates and the first three wirings.
int OfferedEntries(const TSettingsField& field, bool extendedLayout);
