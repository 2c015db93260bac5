// Spoils answers on purpose, at given rates, so masters can be tested against a bad line:
// noise ahead of the answer, a corrupted check, no answer, a cut answer, or an answer in
// pieces with gaps.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kt580sim {

enum class TFaultKind { Noise, Crc, Drop, Truncate, Split };
constexpr int FaultKinds = 5;

const char* FaultName(TFaultKind kind); // "noise", "crc", ...
bool FaultFromName(const std::string& name, TFaultKind& kind);

// A piece of an answer, written after a gap of silence.
struct TPiece {
    std::string Bytes;
    int GapBeforeMs = 0;
};

// Gaps between pieces of a split answer: longer than the 5 ms a master may take as the end.
constexpr int SplitGapMinMs = 6;
constexpr int SplitGapMaxMs = 15;

class TFaultInjector {
public:
    TFaultInjector(std::array<double, FaultKinds> rates, uint64_t seed);

    // The pieces in which `answer` leaves the meter at `address`: empty when dropped. Noise
    // bytes never take the value of the address byte, so no noise can be mistaken for the
    // head (address, function) of the answer.
    std::vector<TPiece> Shape(const std::string& answer, uint8_t address);

    uint64_t Count(TFaultKind kind) const { return FCounts[static_cast<int>(kind)]; }

private:
    bool Roll(TFaultKind kind);
    int Uniform(int low, int high);

    std::array<double, FaultKinds> FRates;
    std::array<uint64_t, FaultKinds> FCounts{};
    std::mt19937_64 FRandom;
};

} // namespace kt580sim
