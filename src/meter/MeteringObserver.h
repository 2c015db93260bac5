// What others may watch of the metering rotation: each answer of a metering block with its
// register values, and each metering read that got no usable answer. The trend chart and the
// recorder ride on the link's reads through this; they never add a query of their own.
#pragma once

#include "meter/Scaling.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class TMeteringBlock : std::uint8_t { Measurement, Energy, Relays, Inputs };

// The metering block a query text reads ("01,03,14,00,00,15" is the measurement block), or
// nothing for any other query. The address field is not looked at.
std::optional<TMeteringBlock> MeteringBlockOfQuery(const std::string& text);

class IMeteringObserver {
public:
    virtual ~IMeteringObserver() = default;
    // Register values in register order; relay and input bits as 0 and 1. The scaling is the
    // link's at the moment of the answer.
    virtual void MeteringAnswer(TMeteringBlock block, std::span<const std::uint16_t> values,
                                const TScaling& scaling) = 0;
    // A read of the block that ended without a valid answer (time-out, bad frame, exception).
    virtual void MeteringLost(TMeteringBlock block) = 0;
    // The query cycle has stopped (disconnect, a vanished port).
    virtual void MeteringStopped() = 0;
};
