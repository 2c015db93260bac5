// The check fields of Modbus serial frames: CRC-16 for RTU, LRC for ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// CRC-16 as Modbus RTU uses it (reflected polynomial 0xA001, start 0xFFFF, no final XOR).
// The frame carries it low byte first.
uint16_t CalcCRC16(const uint8_t* bytes, size_t count);
uint16_t CalcCRC16(std::string_view bytes);

// LRC of Modbus ASCII: the two's complement of the 8-bit sum of the bytes, taken over the
// binary bytes before their hexadecimal encoding, so letter case plays no part in it.
uint8_t CalcLRC(const uint8_t* bytes, size_t count);
uint8_t CalcLRC(std::string_view bytes);
