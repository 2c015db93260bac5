// Safe settings writes, decided from values alone: what a sequence of settings block writes
// changes on a meter against what it held at its last read, the name of the backup made before
// the first write, and whether the meter holds afterwards what was written.
#pragma once

#include "commissioning/WriteDescription.h"
#include "meter/MeterSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

// One settings block write of a sequence: its start, its register data, how it ended.
struct TBlockWrite {
    std::uint16_t Block = 0;
    std::vector<std::uint16_t> Data;
    std::optional<TQueryOutcome> Outcome; // unset until the write has gone out
    // Held back: its values were computed from an earlier write of the sequence that failed.
    bool NotSent = false;
    // The read of the block after the write brought the meter's answer.
    bool ReadBack = false;
};

// The settings block write a query text is, or nothing (a read, another write).
std::optional<TBlockWrite> SettingsBlockWrite(const std::string& text);

// "field: old -> new" with units for each field the writes change against `held`; the line
// settings that move the link are marked so. Empty when nothing changes.
QStringList ChangeLines(const std::vector<TBlockWrite>& writes, const TMeterSettings& held,
                        const QString& version, const TScaling& scale);

// The backup of a meter's settings: serial number (characters a file name cannot hold
// replaced) and local time to the millisecond, "KT580-<serial>-20261207-140312-045.pmt"; a
// serial number that starts with "KT580-" is not prefixed twice.
QString BackupFileName(const QString& serialNumber, const QDateTime& time);

// How one setting of a sequence ended: read back as confirmed; read back otherwise (also a
// setting left as it was in a block refused or held back, which the meter now reads otherwise);
// written but its read-back lost; in a block the meter refused; in a block that never went out.
enum class TSettingResult : std::uint8_t { Verified, NotAsWritten, NotVerified, Refused, NotSent };

struct TSettingCheck {
    const TSettingsField* Field = nullptr;
    std::uint16_t Block = 0;
    bool Changed = false; // the confirmed value differs from what the meter held before
    QString Before;       // what the meter held before the sequence
    QString Wanted;       // what the operator confirmed, in the confirmed units
    QString Held;         // what the meter gives back; empty without a read-back
    TSettingResult Result = TSettingResult::NotSent;
};

// Every setting the writes carry, with its outcome. The confirmed values are the written data
// read with the ratios the sequence puts on the meter (its own block 0x1100, or `beforeScale`);
// the meter's values are `readBack`, as the link read them with the ratios the meter holds.
std::vector<TSettingCheck> CheckSettings(const std::vector<TBlockWrite>& writes,
                                         const TMeterSettings& before, const TScaling& beforeScale,
                                         const TMeterSettings& readBack, const QString& version);

// What the operator is told once the read-backs are in: how many of the changed settings were
// read back as confirmed, then by name each refused, not sent, not verified or not as confirmed.
// `Settings` are the settings the text names (each changed one, and each read back otherwise),
// with their results, as the journal records them.
struct TVerification {
    bool AllVerified = false;
    QString Text;
    std::vector<TWriteChange> Settings = {};
};

// The result as the journal writes it: "verified", "not as written", "not verified", "refused",
// "not sent".
QString SettingResultName(TSettingResult result);
TVerification VerifyWrites(const std::vector<TBlockWrite>& writes, const TMeterSettings& before,
                           const TScaling& beforeScale, const TMeterSettings& readBack,
                           const QString& version);
