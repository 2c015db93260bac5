// The frames Find Meter sends and what it makes of the bytes that come back: the identity
// block (0xF000, 9 registers) tells a KT580 from anything else; the serial number block
// (0xF040, 16 registers) completes a meter found.
#pragma once

#include "scan/ScanPlan.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

std::string IdentityRequest(std::uint8_t address);     // read 0xF000, 9 registers, with CRC
std::string SerialNumberRequest(std::uint8_t address); // read 0xF040, 16 registers, with CRC

// Bytes of a complete normal answer to each request.
constexpr std::size_t IdentityAnswerLength = 5 + 18;
constexpr std::size_t SerialNumberAnswerLength = 5 + 32;

struct TIdentityAnswer {
    TAnswerKind Kind = TAnswerKind::Silent;
    QString Model;       // "KT580"
    QString DeviceType;  // the cleaned type code, "ED80"
    QString SoftVersion; // "3.20"
};

// What `received` (everything that came after `request` went out) says about the device at
// `address`. An echo of the request (adapters that hear themselves) and bytes ahead of the
// answer are passed over; `lineErrors` (framing, parity, overrun seen by the driver) makes an
// answer with no clean frame garbled even when nothing readable came.
TIdentityAnswer ClassifyIdentity(std::string_view received, std::string_view request,
                                 std::uint8_t address, bool lineErrors);

// The serial number from an answer to SerialNumberRequest, or nothing without a clean frame.
std::optional<QString> SerialNumberOf(std::string_view received, std::uint8_t address);

// True when `received` holds a whole answer from `address` to a read of `registers` registers:
// a clean frame (normal or exception) anywhere, or, from where an answer of `address` begins,
// as many bytes as that answer's computed length, clean or not. The reader stops waiting
// there, whatever gaps the line or an adapter left inside the answer.
bool AnswerComplete(std::string_view received, std::uint8_t address, int registers);
