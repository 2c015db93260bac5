// Reading RTU frames for the frame log: a request on its own, an answer against the request it
// answers. The texts name the address, the function, the registers and count, the values or
// the exception, and whether the check field is good. Pure: bytes in, text out.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// "Illegal data address" for 2; "Unknown exception" for codes without a name.
QString ExceptionName(int code);

// True when the last two bytes are the CRC of the rest (and there is a rest).
bool CrcGood(std::string_view frame);

// A request frame (with its CRC).
QString DescribeRequest(std::string_view frame);
// What came back for `request` (the request without its CRC); empty `received`: nothing came.
QString DescribeAnswer(std::string_view received, std::string_view request);

// The bytes that came before the answer to `request` in `received`: 0 when the answer is all
// there is (or there is none to find), else the count of stray bytes ahead of it.
std::size_t StrayBytesBefore(std::string_view received, std::string_view request);

// A frame with a good CRC in `received` that answers the function of `request` but comes from
// another device address: that address.
std::optional<std::uint8_t> ForeignAnswerAddress(std::string_view received,
                                                 std::string_view request);
