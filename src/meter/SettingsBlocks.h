// The meter's five settings register blocks: the write query of a block built from
// the settings record, and a read response written back into it. Both directions use
// the same register order, word order and scaling.
#pragma once

#include "meter/MeterSettings.h"
#include "meter/Scaling.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum TSettingsBlockStart : uint16_t {
    sbGeneral = 0x1100,       // communication, wiring, PT/CT, backlight
    sbAlarm = 0x1200,         // relay/DO types, pulse constant, the first alarm
    sbDigitalOutput = 0x1208, // extended layout only
    sbRelay2Alarm = 0x120A,   // relay alarm layout only
    sbAnalogOutput = 0x1300,
};

struct TSettingsBlock {
    uint16_t Start;
    uint16_t Count;        // registers
    const char* ReadQuery; // "00" stands for the device address
    const char* WriteHead; // function 10 head, data bytes follow
};

// The block starting at that address, or nullptr when none does.
const TSettingsBlock* FindSettingsBlock(uint16_t start);

// One field's share of a write query: the bytes of its register (two registers for PT1).
struct TEncodedField {
    const TSettingsField* Field;
    std::string Data; // ",HH,LL" per register
    bool operator==(const TEncodedField&) const = default;
};

// The fields a block writes, in register order, each with its data; the query is the block's
// head followed by their data. Raises as EncodeSettingsBlock does; empty for an address that
// starts no settings block.
std::vector<TEncodedField> EncodeSettingsFields(uint16_t start, const TMeterSettings& settings,
                                                bool relayAlarmLayout, const TScaling& scale);

// The write query of a block: its head and the data of every register. The flag picks
// the relay 1 alarm fields instead of the single-alarm fields for block 0x1200. A field
// that does not convert, or whose value does not fit its register, raises EConvertError
// (the first such field in register order) and nothing is built; a value that does not fit,
// and a list with no entry chosen, are named by the field's label. Empty for an address
// that starts no settings block.
std::string EncodeSettingsBlock(uint16_t start, const TMeterSettings& settings,
                                bool relayAlarmLayout, const TScaling& scale);

// Sets the fields of a block from the register values of a read response, in register
// order; only the registers present are decoded. Block 0x1200 sets both alarm field
// sets. False when the address starts no settings block.
bool DecodeSettingsBlock(uint16_t start, std::span<const uint16_t> values, TMeterSettings& settings,
                         const TScaling& scale);

// Copies the fields that a read of `registers` registers of the block sets (as
// DecodeSettingsBlock decodes them) from one record to another. False when the address starts
// no settings block.
bool CopySettingsBlock(uint16_t start, std::size_t registers, const TMeterSettings& from,
                       TMeterSettings& to);
