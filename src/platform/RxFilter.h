// What the driver's parity marking and null stripping would do on the receive side,
// done on received bytes in user space: a marked bad byte becomes the replacement
// character, a doubled 0xFF becomes one, and null bytes can be dropped.
#pragma once

#include <cstddef>
#include <cstdint>

struct TRxFilterConfig {
    bool Marked = false;   // the driver marks bad bytes as FF 00 x (PARMRK)
    bool DropNull = false; // null bytes are discarded
    char Replacement = 0;  // stands in for a byte received with a parity or framing error
};

class TRxFilter {
public:
    // Filters `length` bytes in place and returns how many remain. A marker split
    // across calls is completed by the next call.
    std::size_t Apply(const TRxFilterConfig& config, char* data, std::size_t length);

private:
    int FState = 0; // 0: plain, 1: after FF, 2: after FF 00
};

// Packs a configuration into one word so another thread can change it atomically.
std::uint32_t PackRxFilter(const TRxFilterConfig& config);
TRxFilterConfig UnpackRxFilter(std::uint32_t packed);
