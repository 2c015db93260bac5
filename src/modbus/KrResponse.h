// Checking and decoding a response against its request: what one query came to, as a value.
// Pure code beside the codec; the master only raises the events that the outcome names.
#pragma once

#include "modbus/KrModbusCodec.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One group of a file-record read or write.
struct TFileSubResp {
    std::uint8_t RefType = 0;
    std::uint16_t FileNum = 0;
    std::uint16_t RecNum = 0;
    std::vector<std::uint16_t> RecData;
};

// Error kinds of a query, numbered as the master reports them.
enum class TKrErrorKind : std::uint8_t {
    None = 0,
    NoResponse = 1,
    BadFrame = 2,
    Mismatch = 3,
    Exception = 4,
};

// Which response event a valid response raises; each names the function whose response it is.
enum class TKrResponseEvent : std::uint8_t {
    None, // valid, but no event of its own (a code the GB parser accepts generically)
    F01,
    F02,
    F03,
    F04,
    F05,
    F06,
    F0F,
    F10,
    F14,
    F15,
    F28,
    F29,
    F6A,
    F83,
    F85,
    F91,
    FB0,
    FC3,
    FC4,
};

// The values of a valid response, decoded for its event. Only the fields of that event are set.
struct TKrDecoded {
    TKrResponseEvent Event = TKrResponseEvent::None;
    std::uint8_t Slave = 0;
    std::uint16_t StartAddr = 0;
    // The written value (05, 06, 85) or the register or coil count (0F, 10, 29, 6A, B0).
    std::uint16_t Value = 0;
    std::vector<std::uint16_t> Words;  // 03, 04, 83, C3
    std::vector<TFileSubResp> Files;   // 14, 15
    std::string Text;                  // 28
    std::uint16_t DevStatus = 0;       // C3, C4
    std::uint16_t RTDLength = 0;       // C3
    std::unique_ptr<bool[]> BitValues; // 01, 02: coil i is BitValues[i]
    std::size_t BitCount = 0;

    std::span<const bool> Bits() const { return {BitValues.get(), BitCount}; }
};

// What a query came to.
struct TKrResponseOutcome {
    enum class TKind : std::uint8_t {
        Ignored,   // nothing awaited: a broadcast, a null query, or no response expected
        Error,     // ErrorKind says why
        Exception, // the slave answered with an exception; ExceptionCode holds its code
        Response,  // valid; Decoded holds its values
    };
    TKind Kind = TKind::Ignored;
    TKrErrorKind ErrorKind = TKrErrorKind::None;
    int ExceptionCode = -1;
    // GB only: nothing at all was received. Always false with the old format.
    bool NoResponse = false;
    // Whether a frame was looked for; ValidResponse is then the frame found, or empty.
    bool Extracted = false;
    std::string ValidResponse;
    TKrDecoded Decoded;
};

// One query as sent, and what came back for it.
struct TKrExchange {
    std::string_view Request; // the parsed request without check field
    int ResponseLength = 0;   // as TKrQuery gives them; 0: no response expected
    int ExceptionLength = 0;
    bool Broadcast = false;
    bool LineError = false;    // a parity, framing or overrun error while it was received
    std::string_view Received; // every byte received since the send
};

TKrResponseOutcome EvaluateResponse(const TKrCodecSettings& settings, const TKrExchange& x);

// Whether a valid response (address, function and data, no check field) fits its request.
// False for a GB exception response, whose code then goes to exceptionCode.
bool ResponseFitsRequest(const TKrCodecSettings& settings, std::string_view req,
                         std::string_view resp, int& exceptionCode);

// The values of a valid response (resp) that fits its request (req). Reads beyond either
// string give 0.
TKrDecoded DecodeResponse(const TKrCodecSettings& settings, std::string_view req,
                          std::string_view resp);
