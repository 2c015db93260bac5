// A TCP connection to a gateway as the master's transport: Modbus TCP or RTU over TCP through
// a TTcpPort. The unit id is the address of the master's frame. No character timing: the
// gateway frames the serial side. One request in flight: the master asks again only after the
// answer or the time-out, and a late answer is dropped by its transaction id.
#pragma once

#include "modbus/KrTcpFraming.h"
#include "modbus/KrTransport.h"
#include "net/TcpPort.h"

#include <cstdint>
#include <string>

class TKrTcpTransport final : public IKrTransport {
public:
    // A gateway adds its own round trip and the serial line behind it to every answer.
    static constexpr int DefaultQueryTimeout = 5000;

    explicit TKrTcpTransport(TKrTcpFraming framing);
    ~TKrTcpTransport() override;
    TKrTcpTransport(const TKrTcpTransport&) = delete;
    TKrTcpTransport& operator=(const TKrTcpTransport&) = delete;

    void Open() override;
    void Close() override { FPort.ClosePort(); }
    bool IsOpen() const override { return FPort.IsOpen(); }
    // Connects again first when the connection was lost or failed since the last request.
    bool Write(std::string_view Frame) override;
    int SendTime(int /*RequestLength*/) const override { return 0; }
    int FrameGap() const override { return 0; }

    TTcpPort& Port() { return FPort; }
    const TKrTcpFramer& Framer() const { return FFramer; }

private:
    void Received(const char* buffer, std::uint16_t length);
    void Fault(const std::string& text);

    TTcpPort FPort;
    TKrTcpFramer FFramer;
    // The connection failed, was lost or its framing broke: the next request connects anew.
    bool FStale = false;
    // A request is out and its answer has not come.
    bool FAwaiting = false;
};
