// A metering block as the meter model read it: the register values (relay and input bits as 0
// and 1) and what they are worth in physical units, scaled once, here, by the ratios of the
// meter that answered.
#pragma once

#include "meter/Scaling.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class TMeteringBlock : std::uint8_t { Measurement, Energy, Relays, Inputs };

// The metering block a query text reads ("01,03,14,00,00,15" is the measurement block), or
// nothing for any other query. The address field is not looked at.
std::optional<TMeteringBlock> MeteringBlockOfQuery(const std::string& text);

// How a register of the measurement block becomes its value.
enum class TMeasurementKind : std::uint8_t {
    Volts,
    Amps,
    SignedPower, // kW and kvar
    Power,       // kVA
    Hz,
    PowerFactor,
    LoadType, // a character, no number
    AO,       // mA or V by the analog output type
};
TMeasurementKind MeasurementKind(int offset);
// Voltages, currents and powers: scaled by the PT or CT ratio, or both.
bool ScaledByRatios(TMeasurementKind kind);

// The value of register (or bit) `offset` of a block in physical units: volts, amperes, kW,
// kvar, kVA, Hz, the power factor, mA or V of an analog output, kWh or kvarh of an energy
// counter (the low word of its pair at `offset`), 0 or 1 for a state. Nothing when the values
// do not reach it, it is not a number (the load type), or it is scaled by ratios not known.
std::optional<double> MeteringValue(TMeteringBlock block, int offset,
                                    std::span<const std::uint16_t> values, const TScaling& scaling);

struct TMeterReading {
    TMeteringBlock Block = TMeteringBlock::Measurement;
    std::vector<std::uint16_t> Raw;
    // By register (or bit) offset; an energy counter at the offset of its low word.
    std::vector<std::optional<double>> Values;
    // The scaling in force when it was read (the analog outputs' unit follows AOType).
    TScaling Scaling;
    std::int64_t TimeMs = 0;

    std::optional<double> Value(int offset) const {
        return offset >= 0 && static_cast<std::size_t>(offset) < Values.size() ? Values[offset]
                                                                               : std::nullopt;
    }
};

// Energy counter `counter` (0 Ep_total to 5 Eq_exp) of an energy block in tenths of kWh or
// kvarh, low word first; nothing when the block does not reach it.
std::optional<std::uint32_t> CounterTenths(std::span<const std::uint16_t> values, int counter);

TMeterReading MakeReading(TMeteringBlock block, std::span<const std::uint16_t> values,
                          const TScaling& scaling, std::int64_t timeMs);
