// The meter's settings registers, their defaults, and the value checks that make the
// meter refuse a write (exception 04) rather than store a setting it cannot work with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kt580sim {

struct TLayout {
    bool Extended = false;
    bool RelayAlarm = false;
};

// Register address -> value of every settings register the meter has.
using TSettingsImage = std::map<uint16_t, uint16_t>;

// Parity register values: 0 even + 1 stop, 1 odd + 1 stop, 2 none + 2 stops, 3 none + 1 stop.
enum class TMeterParity : uint16_t { Even = 0, Odd = 1, None2 = 2, None1 = 3 };

// Baud rates the meter offers; meters without the extended layout stop at 19200.
const std::vector<uint32_t>& SupportedBaudrates(TLayout layout);

// Factory settings for the layout, with the given address and line.
TSettingsImage DefaultSettings(TLayout layout, uint8_t address, uint32_t baudrate,
                               TMeterParity parity);

// The 32-bit PT1 held in its register pair.
uint32_t PT1Of(const TSettingsImage& image);

// Checks the registers in `touched` (PT1 as a pair when either half is touched).
// Returns an empty text when all hold, else a short description of the first refusal.
std::string CheckSettings(const TSettingsImage& image, const std::vector<uint16_t>& touched,
                          TLayout layout);

} // namespace kt580sim
