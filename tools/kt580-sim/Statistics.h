// What the meter saw and did, printed on exit one "name=value" per line so that tests
// can compare it with what the master counted.
#pragma once

#include "FaultInjector.h"

#include <array>
#include <cstdint>
#include <string>

namespace kt580sim {

struct TStatistics {
    uint64_t Requests = 0;                // checked frames for this meter, broadcasts included
    uint64_t Answers = 0;                 // answers put on the line (also the spoilt ones)
    std::array<uint64_t, 5> Exceptions{}; // index = exception code 1..4 (0 unused)
    uint64_t Broadcasts = 0;
    uint64_t OtherAddress = 0; // checked frames for other slaves
    uint64_t LineMismatch = 0; // frames heard while the master's baud rate differed
    uint64_t DiscardedBytes = 0;

    // Lines in a fixed order; every counter is printed, also when it is 0.
    std::string Summary(const std::array<uint64_t, FaultKinds>& faults) const;
};

} // namespace kt580sim
