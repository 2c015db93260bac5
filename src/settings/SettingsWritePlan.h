// What "Update Device" sends, decided from values alone: the record the operator confirmed,
// the meter's software version and the link's ratios in; the ordered writes with their
// read-backs and the line settings the meter switches to out. The page only gathers the
// record and queues the result.
#pragma once

#include "meter/MeterSettings.h"
#include "meter/Scaling.h"
#include "meter/SettingsBlocks.h"
#include "platform/SerialLine.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The write of one settings block and the read that shows what the meter then holds.
struct TSettingsWrite {
    uint16_t Block;                    // start address
    std::string Query;                 // function 10, "00" for the device address
    std::string ReadBack;              // function 03 of the same block
    std::vector<TEncodedField> Fields; // in register order: the fields it carries
    // The earlier block whose values this block's data was computed from (block 0x1100, whose
    // ratios scale the setpoints, when they differ from the meter's own): it must not go out
    // when that write fails.
    std::optional<uint16_t> ComputedFrom;
    bool operator==(const TSettingsWrite&) const = default;
};

// The line settings the link adopts once the meter has confirmed the write of block 0x1100.
// Parity and stop bits are absent when no parity is chosen.
struct TSettingsLineChange {
    std::uint8_t DeviceAddress = 0;
    int Baudrate = 0;
    std::optional<TParity> Parity;
    std::optional<TStopBits> StopBits;
    bool operator==(const TSettingsLineChange&) const = default;
};

struct TSettingsWritePlan {
    QString Version;  // the software version the layout was chosen for
    TScaling Scaling; // the ratios the write puts on the meter, scaling the setpoints
    std::vector<TSettingsWrite> Writes; // 0x1100, 0x1200, 0x1300, then 0x1208, 0x120A if any
    TSettingsLineChange Line;

    // The one-shot queries in the order they are sent: the first three writes, their reads,
    // then each further write followed by its read.
    std::vector<std::string> Queries() const;
    // Every field the plan writes, in the order of the writes.
    std::vector<const TSettingsField*> Fields() const;
    const TSettingsWrite* Write(uint16_t block) const;
    // The write query that one of the plan's queries was computed from; empty for none.
    std::string Needs(const std::string& query) const;
};

// Why nothing is written. The kinds are shown differently: an invalid address in a prompt,
// the others in the error box.
struct TSettingsWriteRefusal {
    enum TKind { VersionUnknown, InvalidAddress, Conversion };
    TKind Kind;
    QString Message;
    bool operator==(const TSettingsWriteRefusal&) const = default;
};

using TSettingsWriteOutcome = std::variant<TSettingsWritePlan, TSettingsWriteRefusal>;

// The write of a record for a meter of that version. The layout is the version's; only the
// fields a page adapted to that version shows are written. Alarm setpoints are scaled by the
// ratios of the record's own PT1/PT2 and CT1/CT2, which the same write puts on the meter (a
// divisor of 0 keeps the ratio of `current`, as the link does when it reads such a block); a
// block whose data differs from its data at the ratios of `current` is computed from 0x1100.
TSettingsWriteOutcome PlanSettingsWrite(const TMeterSettings& record, const QString& version,
                                        const TScaling& current);

// The fields whose register data differ between two plans (or that only one writes): what a
// write of `b` changes on a meter that holds `a`.
std::vector<const TSettingsField*> ChangedFields(const TSettingsWritePlan& a,
                                                 const TSettingsWritePlan& b);
