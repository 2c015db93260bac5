// Safe settings writes, decided from values alone: what a sequence of settings block writes
// changes on a meter against what it held at its last read, the name of the backup made before
// the first write, and whether the meter holds afterwards what was written.
#pragma once

#include "commissioning/WriteDescription.h"
#include "settings/MeterSettings.h"

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

// What the operator is told once the read-backs are in: every written field compared with
// what the meter gives back, each refused block with the fields it would have changed.
struct TVerification {
    bool AllVerified = false;
    QString Text;
};
TVerification VerifyWrites(const std::vector<TBlockWrite>& writes, const TMeterSettings& before,
                           const TMeterSettings& readBack, const QString& version,
                           const TScaling& scale);
