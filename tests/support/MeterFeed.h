// Answers put into a meter model as the link puts them, so whoever follows its stream learns
// them the way the program's parts do: the model decodes, the followers take its events.
#pragma once

#include "meter/MeterModel.h"

#include <cstdint>
#include <functional>
#include <span>

class TMeterFeed {
public:
    TMeterFeed() = default;
    explicit TMeterFeed(IMeterEvents& follower) { Events.Follow(&follower); }
    void Follow(IMeterEvents& follower) { Events.Follow(&follower); }

    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
        Meter.RegistersRead(start, values);
    }
    void CoilsRead(std::span<const bool> bits) { Meter.BitsRead(TMeteringBlock::Relays, bits); }

    TMeterEventStream Events;
    TMeterModel Meter{TLinkLine{1, 19200, TParity::None, TStopBits::_1, 1}, Events, false};
};

// The model a follower is told about when a test hands it a reading directly.
inline const TMeterModel& NoMeter() {
    static TMeterEventStream events;
    static const TMeterModel meter(TLinkLine{}, events, false);
    return meter;
}

// A metering block answered with `values` under `scaling`, told to a follower as the link
// tells it; a lost read; the end of the cycle.
template <typename TFollower>
void Answer(TFollower& f, TMeteringBlock block, std::span<const std::uint16_t> values,
            const TScaling& scaling) {
    f.MeteringRead(NoMeter(), MakeReading(block, values, scaling, 0));
}
template <typename TFollower> void Lost(TFollower& f, TMeteringBlock block) {
    f.MeteringLost(NoMeter(), block);
}
