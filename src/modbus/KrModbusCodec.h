// Query texts to Modbus frames and received bytes back to verified responses.
// Pure code: no port, no timer; the polling engine calls it once per query.
#pragma once

#include "modbus/KrChecksum.h"

#include <cstdint>
#include <string>
#include <string_view>

enum TTransmissionMode : uint8_t { tmRtu = 0, tmAscii = 1 };
enum TProtocolVersion : uint8_t { pvOldFormat = 0, pvGB19582_2008 = 1 };
enum TAsciiMode : uint8_t { amLowerCase = 0, amUpperCase = 1 };

struct TKrCodecSettings {
    TTransmissionMode Mode = tmRtu;
    TProtocolVersion ProtocolVersion = pvGB19582_2008;
    // ASCII responses must end with CR LF exactly at their expected end.
    bool EndCheck = true;
    TAsciiMode AsciiOutput = amUpperCase;
};

// One query as it goes out. Byte strings throughout: every char is one octet 0-255.
struct TKrQuery {
    // The parsed request without check field, cut to its function's request length.
    // Empty after a failed parse.
    std::string Request;
    // The RTU or ASCII frame, or the null query (a single zero byte).
    std::string QueryFrame;
    // Lengths on the wire in characters (RTU: with CRC; ASCII: with ':', LRC and CR LF).
    int RequestLength = 0;
    int ResponseLength = 0;  // 0: no response is expected
    int ExceptionLength = 0; // GB only; 0 with the old format and for broadcasts
    // True when a GB text addressed slave 0: nothing answers a broadcast, so the engine must not
    // wait for a response. Set as soon as two bytes were parsed, so a broadcast text that then
    // fails its checks (a read to slave 0, say) is still flagged; it is then a null query with
    // ResponseLength 0 as well. Always false with the old format, where address 0 is an
    // ordinary slave that answers.
    bool Broadcast = false;
};

// Byte strings are taken as std::string_view so that a std::string or an exactly sized buffer
// can be passed; never pass a C string, which would end at the first zero byte.

// What an unusable query text becomes. Compared as a one-char string, never as a C string,
// so it stays distinct from the empty text.
constexpr char NullQueryChar = '\0';
std::string NullQuery();
bool IsNullQuery(std::string_view frame);

// Parses a query text ("01,03,14,00,00,15": two hex digits per byte, each pair followed by
// one separator of any kind) with the parser of settings.ProtocolVersion, validates it for its
// function code and fills Request, the three lengths on the wire and Broadcast. QueryFrame is
// left alone on success. On failure returns false and leaves the null-query state: QueryFrame
// the null query, RequestLength 1, ResponseLength and ExceptionLength 0, Request empty.
bool ParseQuery(std::string_view text, const TKrCodecSettings& settings, TKrQuery& query);

// Frames an already parsed request for the wire.
std::string BuildRtuFrame(std::string_view request);
std::string BuildAsciiFrame(std::string_view request, TProtocolVersion version,
                            TAsciiMode asciiOutput);

// ParseQuery, then the frame of settings.Mode; a failed parse gives the null query.
// An empty text is a failed parse here too; keeping the previous frame for an empty answer is
// the engine's business.
TKrQuery BuildQueryFrame(std::string_view text, const TKrCodecSettings& settings);

// Finds the response to currentRequest in the bytes received since the send, checks its length
// and check field, and on success sets validResponse to address, function code and data
// (no ':', LRC, CR LF or CRC). Exception frames (function | 0x80) are found only with GB in RTU
// mode, and only for function codes below 0x80, which have a distinct exception code. The frame
// found always has its full expected length, normal or exception, so callers may read the data its
// request promises. validResponse is untouched on failure.
bool ExtractResponse(const TKrCodecSettings& settings, std::string_view currentRequest,
                     int responseLength, int exceptionLength, std::string_view response,
                     std::string& validResponse);
bool ExtractResponse(const TKrCodecSettings& settings, const TKrQuery& current,
                     std::string_view response, std::string& validResponse);
