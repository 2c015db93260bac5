#include "meter/MeteringObserver.h"

namespace {

// The byte at field `index` of a query text written as two hex digits and one separator each.
std::optional<unsigned> Field(const std::string& text, std::size_t index) {
    const std::size_t at = index * 3;
    if (text.size() < at + 2)
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at; i < at + 2; ++i) {
        const char c = text[i];
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            value |= static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            value |= static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<TMeteringBlock> MeteringBlockOfQuery(const std::string& text) {
    const auto function = Field(text, 1);
    const auto startHigh = Field(text, 2);
    const auto startLow = Field(text, 3);
    if (!function || !startHigh || !startLow)
        return std::nullopt;
    const unsigned start = *startHigh << 8 | *startLow;
    switch (*function) {
    case 0x01:
        return start == 0 ? std::optional(TMeteringBlock::Relays) : std::nullopt;
    case 0x02:
        return start == 0 ? std::optional(TMeteringBlock::Inputs) : std::nullopt;
    case 0x03:
        if (start == 0x1400)
            return TMeteringBlock::Measurement;
        if (start == 0x1180)
            return TMeteringBlock::Energy;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}
