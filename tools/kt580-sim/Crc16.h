// Check field of the meter's RTU frames, computed on the meter's side of the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kt580sim {

// CRC-16 with the reflected polynomial 0xA001 and initial value 0xFFFF.
uint16_t Crc16(std::string_view bytes, std::size_t count);

// Appends the check field, low-order byte first as it travels on the line.
void AppendCrc(std::string& frame);

// True when the last two of the first `length` bytes are the check of the bytes before them.
bool CrcMatches(std::string_view bytes, std::size_t length);

} // namespace kt580sim
