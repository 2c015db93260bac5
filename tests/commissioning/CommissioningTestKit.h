// What the commissioning tests share: register blocks written as lists of numbers, and the
// blocks of a meter's identity and serial number, and the reads of a report answered.
#pragma once

#include "commissioning/MeterMemory.h"
#include "support/MeterFeed.h"
#include "support/MeterRegisters.h"

#include <QByteArray>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace commtest {

// A meter memory fed through a meter model of its own.
class TFedMemory : public TMeterMemory {
public:
    explicit TFedMemory(std::function<std::int64_t()> nowMs) : TMeterMemory(std::move(nowMs)) {
        FFeed.Follow(*this);
    }
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
        FFeed.RegistersRead(start, values);
    }
    void CoilsRead(std::span<const bool> bits) { FFeed.CoilsRead(bits); }
    // Another follower of the same model, told after the memory.
    void Follow(IMeterEvents& follower) { FFeed.Follow(follower); }
    const TMeterModel& Model() const { return FFeed.Meter; }

private:
    TMeterFeed FFeed;
};

inline std::vector<std::uint16_t> Regs(std::initializer_list<int> values) {
    std::vector<std::uint16_t> out;
    for (int v : values)
        out.push_back(static_cast<std::uint16_t>(v));
    return out;
}

// The identity block of a KT580 (ED80, hardware 1.00) of that version and release date.
inline std::vector<std::uint16_t> Identity(const QByteArray& version, const QByteArray& date) {
    return TextRegisters("ED801.00" + version + date, 9);
}

inline std::vector<std::uint16_t> SerialNumber(const QByteArray& serial) {
    return TextRegisters(serial, 16);
}

// What a report reads from a 3.05 meter "KT-1": its identity, serial number, the settings
// blocks and the two energy totals (65982.5 kWh, past one register).
template <typename TFeed> void AnswerReportReads(TFeed& memory) {
    memory.RegistersRead(0xF000, Identity("3.05", "160121"));
    memory.RegistersRead(0xF040, SerialNumber("KT-1"));
    memory.RegistersRead(0x1100, Regs({1234, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1200, Regs({0, 0, 800, 1, 2300, 5, 1, 2}));
    memory.RegistersRead(0x1300, Regs({3, 1, 100, 20, 0, 1, 6, 0, 120, 0, 1, 0}));
    memory.RegistersRead(0x1180, Regs({0x1171, 0x000A, 25, 0}));
}

} // namespace commtest
