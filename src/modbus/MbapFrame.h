// Modbus TCP framing: the MBAP header in front of a PDU, and the decoder that cuts a TCP
// stream into frames. Pure: no sockets, no clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Header bytes: transaction, protocol, length (two bytes each), unit identifier.
constexpr std::size_t MbapHeaderSize = 7;
// A PDU is the function code and at most 252 data bytes.
constexpr std::size_t MaxPduSize = 253;
// The length field counts the unit identifier and the PDU.
constexpr std::size_t MaxMbapLength = MaxPduSize + 1;
constexpr std::size_t MaxAduSize = MbapHeaderSize - 1 + MaxMbapLength;

struct TMbapFrame {
    std::uint16_t TransactionId = 0;
    std::uint8_t UnitId = 0;
    // Function code and data.
    std::string Pdu;
};

// The frame as it goes on the stream, protocol identifier 0; an empty string for an empty
// PDU or one longer than MaxPduSize.
std::string EncodeMbap(std::uint16_t transactionId, std::uint8_t unitId, std::string_view pdu);

enum class TMbapStatus : std::uint8_t {
    NeedMore,         // no complete frame yet
    Frame,            // a complete frame
    OtherTransaction, // a complete frame, but not the answer to the request (a late one)
    LengthTooShort,   // length field 0 or 1: no function code
    LengthTooLong,    // length field past MaxMbapLength
    NotModbus,        // protocol identifier other than 0
};

// Whether the stream's framing is lost: nothing after it can be trusted, so the connection
// must be closed.
bool IsStreamBroken(TMbapStatus status);

// A plain sentence for the log: what arrived.
std::string_view MbapStatusText(TMbapStatus status);

struct TMbapResult {
    TMbapStatus Status = TMbapStatus::NeedMore;
    // Filled for Frame and OtherTransaction.
    TMbapFrame Frame;
};

// Fed arbitrary chunks of a stream, yields its frames one by one. It holds at most one
// frame's worth of bytes (MaxAduSize), so a peer that floods it cannot make it grow: Feed
// takes only what fits, and the caller feeds the rest after taking the frames out.
class TMbapDecoder {
public:
    // A master expects the answer to its request: a frame of another transaction is reported
    // as OtherTransaction. Without an expectation every frame counts (the server's side).
    void Expect(std::uint16_t transactionId) { FExpected = transactionId; }
    void ExpectAny() { FExpected.reset(); }

    // Takes bytes up to the room left; returns how many it took.
    std::size_t Feed(std::string_view bytes);
    // The next frame, NeedMore, or the reason the stream is broken (given again on every
    // call until Reset).
    TMbapResult Next();
    // Drops what is held and any broken state: for a new connection.
    void Reset();

    std::size_t Buffered() const { return FSize; }

private:
    std::optional<TMbapStatus> HeaderFault() const;

    std::array<char, MaxAduSize> FBuffer{};
    std::size_t FSize = 0;
    std::optional<TMbapStatus> FBroken;
    std::optional<std::uint16_t> FExpected;
};
