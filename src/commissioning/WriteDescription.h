// What a write query does to the meter, in the words of the pages: which relay, counter or
// settings fields it changes, from which value (where the utility knows it) to which.
#pragma once

#include "commissioning/MeterMemory.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

struct TWriteChange {
    QString Item;
    std::optional<QString> Before; // unknown until read from the meter
    QString After;
    // How a settings sequence ended for the setting, once its read-back is judged ("verified",
    // "not as written", "not verified", "refused", "not sent"); empty for every other change.
    QString Result = {};
    // What the meter gave back, where it is not what was confirmed.
    QString Held = {};
    bool operator==(const TWriteChange&) const = default;
};

struct TWriteDescription {
    QString Kind; // "relay", "energy preset", "energy reset", "settings", "registers"
    QString What;
    std::vector<TWriteChange> Changes;
    bool operator==(const TWriteDescription&) const = default;
};

// A register address as the journal and the boxes name it: "0x1100".
QString RegisterHex(std::uint16_t address);

// The bytes of a query text ("00,05,00,00,FF,00"); empty when a field is not two hex digits.
std::vector<std::uint8_t> QueryTextBytes(const std::string& text);

// Nothing for a query that changes nothing (a read, a text that is not a request).
std::optional<TWriteDescription> DescribeWrite(const std::string& text, const TMeterMemory& memory);

// The settings a block write changes, named as the page names them, with the values the meter
// held and the values written, decoded back in the units the page shows; every field the block
// carries when what the meter held is not known (`before` is used only when `beforeKnown`).
std::vector<TWriteChange> SettingsChanges(std::uint16_t start, std::span<const std::uint16_t> data,
                                          const TMeterSettings& before, bool beforeKnown,
                                          const QString& version, const TScaling& scale);

// What the journal calls a settings block write: what the block holds and its address,
// "RO2 alarm (settings block 0x120A)".
QString SettingsBlockTitle(std::uint16_t start);
