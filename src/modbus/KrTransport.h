// The seam under the polling master: what carries its RTU frames (address, PDU, CRC) to the
// meters and their answers back. The serial line is one transport (TKrSerialTransport); a TCP
// connection to a gateway is another. Everything above it (response evaluation, dispatch, the
// pages) sees RTU frames whatever carries them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class IKrTransport {
public:
    // Buffer holds Length bytes, valid only during the call.
    using TReceiveEvent = std::function<void(const char* Buffer, std::uint16_t Length)>;
    // Line-error flags (LineEvents::Err*) or modem bits (LineEvents::Modem*).
    using TFlagsEvent = std::function<void(std::uint32_t Flags)>;
    using TNotifyEvent = std::function<void()>;
    using TFaultEvent = std::function<void(const std::string& Text)>;

    IKrTransport() = default;
    virtual ~IKrTransport() = default;
    IKrTransport(const IKrTransport&) = delete;
    IKrTransport& operator=(const IKrTransport&) = delete;

    // Throws (ECommsError for the serial line) when it cannot open; afterwards IsOpen tells.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Sends one RTU frame; false when it cannot go out (closed, the line lost, a bad frame).
    virtual bool Write(std::string_view Frame) = 0;

    // The time a request of RequestLength bytes keeps the line busy, with the silence that
    // ends it, in ms; 0 where the transport has no such time.
    virtual int SendTime(int RequestLength) const = 0;
    // The silence the line needs between two frames, in ms; 0 where it needs none.
    virtual int FrameGap() const = 0;

    // Raised on the thread that owns the transport; unbound ones are skipped.
    TReceiveEvent OnReceive;
    TFlagsEvent OnLineError;
    TFlagsEvent OnModemState;
    // The device or the connection under the open transport is gone.
    TNotifyEvent OnLineLost;
    // Something arrived that is no answer (a broken header, a foreign unit): said in words.
    TFaultEvent OnFault;
};
