#include "modbus/FramingDetect.h"

#include "modbus/KrChecksum.h"
#include "modbus/MbapFrame.h"

#include <cstddef>

namespace {

std::uint16_t Word(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(bytes[at]) << 8) |
                                      static_cast<std::uint8_t>(bytes[at + 1]));
}

bool CrcAt(std::string_view bytes, std::size_t length) {
    if (length < 4 || length > bytes.size())
        return false;
    const std::uint16_t crc = CalcCRC16(bytes.substr(0, length - 2));
    return static_cast<std::uint8_t>(bytes[length - 2]) == (crc & 0xFF) &&
           static_cast<std::uint8_t>(bytes[length - 1]) == (crc >> 8);
}

// The length of the RTU answer the function code announces, or 0 when it announces none.
std::size_t RtuAnswerLength(std::string_view bytes) {
    const auto function = static_cast<std::uint8_t>(bytes[1]);
    if ((function & 0x80) != 0)
        return 5;
    switch (function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
        return bytes.size() >= 3 ? 5 + static_cast<std::uint8_t>(bytes[2]) : 0;
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return 8;
    default:
        return 0;
    }
}

bool LooksRtu(std::string_view bytes) {
    // A function code of an answer the master asks for, or a whole chunk whose CRC matches.
    const std::size_t announced = RtuAnswerLength(bytes);
    return announced != 0 ? CrcAt(bytes, announced) : CrcAt(bytes, bytes.size());
}

bool LooksMbap(std::string_view bytes) {
    if (bytes.size() < MbapHeaderSize + 1 || Word(bytes, 2) != 0)
        return false;
    const std::size_t length = Word(bytes, 4);
    return length >= 2 && length <= MaxMbapLength && MbapHeaderSize - 1 + length <= bytes.size();
}

} // namespace

TWireFraming DetectFraming(std::string_view bytes) {
    if (bytes.size() < 5)
        return TWireFraming::Unknown;
    const bool rtu = LooksRtu(bytes);
    const bool mbap = LooksMbap(bytes);
    if (rtu == mbap)
        return TWireFraming::Unknown;
    return rtu ? TWireFraming::Rtu : TWireFraming::ModbusTcp;
}
