// The query texts of the metering page's commands to the meter. "00" stands for the device
// address, which the link puts in when it sends them.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace mcmd {

// First register of the energy block; a counter's label carries its offset from here.
inline constexpr std::uint16_t EnergyBase = 0x1180;

// Function 05 on coil `relay` (relay 1 is coil 0, relay 2 coil 1): 0xFF00 on, 0x0000 off.
std::string RelaySwitch(int relay, bool on);

// Function 10: `tenths` into the counter's two registers at EnergyBase + offset, low word
// first, as the meter keeps a 32-bit counter.
std::string EnergyPreset(int offset, std::uint32_t tenths);

// The reset write for the meter's layout: the reset command register 0x110D where the meter
// has it, else zero into Ep_total and Eq_total (0x1180 to 0x1183), all a basic meter keeps.
std::string EnergyReset(const QString& version);

// The number part of an energy label ("1234.5 kWh" gives "1234.5"): the text before the first
// " k", or the whole text.
QString EnergyEntryText(const QString& labelText);

} // namespace mcmd
