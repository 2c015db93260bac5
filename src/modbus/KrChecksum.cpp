#include "modbus/KrChecksum.h"

#include <array>

namespace {

// One table of 256 words instead of the classic pair of byte tables: same result, one lookup.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

} // namespace

uint16_t CalcCRC16(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ CrcTable[(crc ^ bytes[i]) & 0xFFu]);
    }
    return crc;
}

uint16_t CalcCRC16(std::string_view bytes) {
    return CalcCRC16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

uint8_t CalcLRC(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(-sum);
}

uint8_t CalcLRC(std::string_view bytes) {
    return CalcLRC(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
