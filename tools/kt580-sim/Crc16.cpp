#include "Crc16.h"

namespace kt580sim {

uint16_t Crc16(std::string_view bytes, std::size_t count) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = (crc & 1U) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (lsb) {
                crc ^= 0xA001;
            }
        }
    }
    return crc;
}

void AppendCrc(std::string& frame) {
    const uint16_t crc = Crc16(frame, frame.size());
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
}

bool CrcMatches(std::string_view bytes, std::size_t length) {
    if (length < 4 || length > bytes.size()) {
        return false;
    }
    const uint16_t crc = Crc16(bytes, length - 2);
    return static_cast<uint8_t>(bytes[length - 2]) == (crc & 0xFF) &&
           static_cast<uint8_t>(bytes[length - 1]) == (crc >> 8);
}

} // namespace kt580sim
