#include "modbus/KrSerialTransport.h"

#include <cmath>

namespace {

// Bits per character on the wire (start, 8 data, parity or second stop, stop) and the
// silence that ends an RTU frame, in characters.
constexpr double BitsPerChar = 11.0;
constexpr double FrameSilenceChars = 3.5;

} // namespace

TKrSerialTransport::TKrSerialTransport() {
    // The master sends binary frames: software flow control would swallow 0x11 and 0x13.
    FComm.SetTxContinueOnXoff(false);
    FComm.SetInx_XonXoffFlow(false);
    FComm.SetOutx_XonXoffFlow(false);
    // A 5 ms silence closes a received chunk: long enough to keep one burst together, short
    // enough that a response is seen within a few milliseconds of its last byte.
    FComm.SetReadIntervalTimeout(5);
    FComm.OnReceiveData = [this](TComm&, const char* buffer, std::uint16_t length) {
        if (OnReceive) {
            OnReceive(buffer, length);
        }
    };
    FComm.OnReceiveError = [this](TComm&, std::uint32_t mask) {
        if (OnLineError) {
            OnLineError(mask);
        }
    };
    FComm.OnModemStateChange = [this](TComm&, std::uint32_t bits) {
        if (OnModemState) {
            OnModemState(bits);
        }
    };
    FComm.OnRequestHangup = [this](TComm&) {
        if (OnLineLost) {
            OnLineLost();
        }
    };
}

TKrSerialTransport::~TKrSerialTransport() {
    // The port's events call back into this object: they must stop before it goes.
    FComm.ClosePort();
    FComm.OnReceiveData = nullptr;
    FComm.OnReceiveError = nullptr;
    FComm.OnModemStateChange = nullptr;
    FComm.OnRequestHangup = nullptr;
}

bool TKrSerialTransport::Write(std::string_view Frame) {
    // The port takes at most 65535 bytes per call; a longer frame cannot go out whole.
    if (Frame.empty() || Frame.size() > 0xFFFF) {
        return false;
    }
    return FComm.WriteData(Frame.data(), static_cast<std::uint16_t>(Frame.size()));
}

int TKrSerialTransport::SendTime(int RequestLength) const {
    const auto baud = static_cast<int>(FComm.BaudRate());
    if (baud <= 0) {
        return 0;
    }
    // nearbyint in the default rounding mode rounds halves to even.
    return static_cast<int>(
        std::nearbyint((RequestLength + FrameSilenceChars) * BitsPerChar * 1000.0 / baud));
}

int TKrSerialTransport::FrameGap() const {
    const auto baud = static_cast<int>(FComm.BaudRate());
    if (baud <= 0) {
        return 0;
    }
    return static_cast<int>(std::nearbyint(FrameSilenceChars * BitsPerChar * 1000.0 / baud));
}
