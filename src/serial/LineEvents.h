// The bits of a line-error report and of a modem-state report, as the reader thread raises them
// and TComm's events carry them. Kept apart from TComm so the reader needs no knowledge of the
// component that owns it.
#pragma once

#include <cstdint>

namespace LineEvents {

// Line-error flags (OnReceiveError's EventMask).
inline constexpr std::uint32_t ErrRxOver = 0x01;
inline constexpr std::uint32_t ErrOverrun = 0x02;
inline constexpr std::uint32_t ErrParity = 0x04;
inline constexpr std::uint32_t ErrFrame = 0x08;
inline constexpr std::uint32_t ErrBreak = 0x10;

// Modem bits (OnModemStateChange's ModemEvent); CTS and carrier detect share one bit, as the
// program has always reported them.
inline constexpr std::uint32_t ModemCtsOrDcd = 8;
inline constexpr std::uint32_t ModemRing = 4;
inline constexpr std::uint32_t ModemDsr = 16;

} // namespace LineEvents
