#include "modbus/KrTcpTransport.h"

TKrTcpTransport::TKrTcpTransport(TKrTcpFraming framing) : FFramer(framing) {
    FPort.OnReceiveData = [this](TTcpPort&, const char* buffer, std::uint16_t length) {
        Received(buffer, length);
    };
    FPort.OnConnect = [this](TTcpPort&, TTcpState state, const std::string& text) {
        if (state != TTcpState::Connected) {
            FStale = true;
            Fault(text);
        }
    };
    FPort.OnRequestHangup = [this](TTcpPort& port) {
        FStale = true;
        // A gateway may close after each answer; only a loss that takes an answer with it
        // is worth a word.
        if (FAwaiting) {
            Fault(port.LastErrorText());
        }
    };
}

TKrTcpTransport::~TKrTcpTransport() {
    FPort.ClosePort();
    FPort.OnReceiveData = nullptr;
    FPort.OnConnect = nullptr;
    FPort.OnRequestHangup = nullptr;
}

void TKrTcpTransport::Open() {
    FFramer.Reset();
    FStale = false;
    FAwaiting = false;
    FPort.OpenPort();
}

bool TKrTcpTransport::Write(std::string_view Frame) {
    if (!FPort.IsOpen()) {
        return false;
    }
    const std::string out = FFramer.Outgoing(Frame);
    if (out.empty() || out.size() > 0xFFFF) {
        return false;
    }
    if (FStale) {
        // Outside the port's events, so closing here is safe; the request waits in the new
        // connection's queue until it is made.
        FPort.ClosePort();
        Open();
    }
    FAwaiting = true;
    return FPort.WriteData(out.data(), static_cast<std::uint16_t>(out.size()));
}

void TKrTcpTransport::Received(const char* buffer, std::uint16_t length) {
    const TKrTcpIncoming in = FFramer.Incoming(std::string_view(buffer, length));
    if (in.Broken) {
        FStale = true;
    }
    if (!in.Fault.empty()) {
        Fault(in.Fault);
    }
    if (!in.Rtu.empty()) {
        FAwaiting = false;
        if (OnReceive) {
            // At most one frame's worth per chunk of the port (2048 bytes), well within range.
            OnReceive(in.Rtu.data(), static_cast<std::uint16_t>(in.Rtu.size()));
        }
    }
}

void TKrTcpTransport::Fault(const std::string& text) {
    if (OnFault && !text.empty()) {
        OnFault(text);
    }
}
