// Between the master's RTU frames and the byte stream of a TCP connection to a gateway. With
// Modbus TCP an RTU frame (address, PDU, CRC) goes out as an MBAP frame (a new transaction id
// per request, the address as unit id, no CRC) and an MBAP answer comes back to the master as
// the RTU frame it expects; RTU over TCP carries the frames as they are. Pure: no sockets, no
// clock.
#pragma once

#include "modbus/MbapFrame.h"

#include <cstdint>
#include <string>
#include <string_view>

enum class TKrTcpFraming : std::uint8_t { ModbusTcp, RtuOverTcp };

struct TKrTcpIncoming {
    // RTU frames for the master, in the order they arrived.
    std::string Rtu;
    // What arrived that is no answer to the request, in words; empty when all was well.
    std::string Fault;
    // The stream's framing is lost: nothing after it can be trusted, the connection must go.
    bool Broken = false;
};

class TKrTcpFramer {
public:
    explicit TKrTcpFramer(TKrTcpFraming framing = TKrTcpFraming::ModbusTcp) : FFraming(framing) {}

    TKrTcpFraming Framing() const { return FFraming; }
    // The transaction id of the last Modbus TCP request.
    std::uint16_t TransactionId() const { return FTransactionId; }

    // The RTU frame as it goes on the stream; empty when it is no RTU frame with a correct CRC
    // (Modbus TCP only: RTU over TCP passes anything).
    std::string Outgoing(std::string_view rtuFrame);
    // Bytes from the stream, cut into the answers the master gets.
    TKrTcpIncoming Incoming(std::string_view bytes);
    // For a new connection: bytes held from the old one are dropped; the ids go on.
    void Reset();

private:
    void TakeFrame(const TMbapResult& r, TKrTcpIncoming& in) const;

    TKrTcpFraming FFraming;
    TMbapDecoder FDecoder;
    std::uint16_t FTransactionId = 0;
    std::uint8_t FUnitId = 0;
};
