// The kernel's terminal settings as plain values, and the pure mapping of the
// component's line settings onto them. Kept free of I/O so both the real device and
// the fake apply exactly the same rules.
#pragma once

#include "platform/SerialLine.h"

#include <array>
#include <cstdint>

struct TTermState {
    std::uint32_t Iflag = 0, Oflag = 0, Cflag = 0, Lflag = 0;
    std::uint8_t Line = 0;
    std::array<std::uint8_t, 19> Cc{};
    std::uint32_t Speed = 9600; // bits per second, both directions
    bool operator==(const TTermState&) const = default;
};

// Raw mode with the given framing, flow control and speed. A field the driver cannot
// take (1.5 stop bits, 0 bit/s) keeps its value in `t`, and the result is false;
// everything else is still set, raw mode above all: a port left in the cooked default
// would echo the meter's answers back onto the line and turn its CR bytes into LF.
bool MapLineSettings(const TLineSettings& s, TTermState& t);

// The modem-line requests that go with the settings.
enum class TLineRequest : std::uint8_t { Raise, Lower, Leave };
struct TModemRequests {
    TLineRequest Dtr = TLineRequest::Leave;
    TLineRequest Rts = TLineRequest::Leave;
    bool RtsOnSend = false; // RTS raised by the driver only while sending (RS-485)
    bool operator==(const TModemRequests&) const = default;
};
TModemRequests MapModemLines(const TLineSettings& settings);
