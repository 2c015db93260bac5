// Which framing a gateway's bytes are in: an RTU frame with its CRC, or an MBAP header with its
// PDU. Pure; it lets a TCP master tell a gateway set to the other framing from a garbled
// answer.
#pragma once

#include <cstdint>
#include <string_view>

enum class TWireFraming : std::uint8_t {
    Unknown,   // neither, or too short to tell
    Rtu,       // address, PDU and a CRC that matches
    ModbusTcp, // an MBAP header (protocol 0, a length that fits the bytes) and its PDU
};

// Judges the bytes from their start, as a master receives them after its request: one whole
// answer, possibly with more behind it. Bytes that would pass as both are Unknown.
TWireFraming DetectFraming(std::string_view bytes);
