#include "meter/MeterReading.h"

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

using K = TMeasurementKind;
constexpr TMeasurementKind Kinds[21] = {
    K::Volts, K::Volts, K::Volts,       K::Volts,    K::Volts, K::Volts,       K::Amps,
    K::Amps,  K::Amps,  K::Volts,       K::Volts,    K::Amps,  K::SignedPower, K::SignedPower,
    K::Power, K::Hz,    K::PowerFactor, K::LoadType, K::AO,    K::AO,          K::Amps,
};

double Signed(std::uint16_t raw) {
    return static_cast<std::int16_t>(raw);
}

// The same expressions as the page has always shown, so no figure moves by a rounding.
std::optional<double> MeasurementValue(int offset, std::uint16_t raw, const TScaling& s) {
    const TMeasurementKind kind = MeasurementKind(offset);
    if (!s.RatiosKnown && ScaledByRatios(kind))
        return std::nullopt;
    switch (kind) {
    case K::Volts:
        return raw * s.PTRatio / 10;
    case K::Amps:
        return raw * s.CTRatio / 1000;
    case K::SignedPower:
        return Signed(raw) * s.PTRatio * s.CTRatio / 1000;
    case K::Power:
        return raw * s.PTRatio * s.CTRatio / 1000;
    case K::Hz:
        return raw / 100.0;
    case K::PowerFactor:
        return Signed(raw) / 1000;
    case K::AO:
        return raw / 1000.0;
    case K::LoadType:
        break;
    }
    return std::nullopt;
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

TMeasurementKind MeasurementKind(int offset) {
    return offset >= 0 && offset < 21 ? Kinds[offset] : K::LoadType;
}

bool ScaledByRatios(TMeasurementKind kind) {
    return kind == K::Volts || kind == K::Amps || kind == K::SignedPower || kind == K::Power;
}

std::optional<double> MeteringValue(TMeteringBlock block, int offset,
                                    std::span<const std::uint16_t> values,
                                    const TScaling& scaling) {
    if (offset < 0)
        return std::nullopt;
    const auto at = static_cast<std::size_t>(offset);
    switch (block) {
    case TMeteringBlock::Energy: {
        if (offset % 2 != 0)
            return std::nullopt;
        const auto tenths = CounterTenths(values, offset / 2);
        return tenths ? std::optional<double>(static_cast<double>(*tenths) / 10) : std::nullopt;
    }
    case TMeteringBlock::Relays:
    case TMeteringBlock::Inputs:
        if (at >= values.size())
            return std::nullopt;
        return values[at] ? 1.0 : 0.0;
    case TMeteringBlock::Measurement:
        break;
    }
    if (at >= values.size())
        return std::nullopt;
    return MeasurementValue(offset, values[at], scaling);
}

std::optional<std::uint32_t> CounterTenths(std::span<const std::uint16_t> values, int counter) {
    if (counter < 0)
        return std::nullopt;
    const auto at = static_cast<std::size_t>(counter) * 2;
    if (at + 1 >= values.size())
        return std::nullopt;
    return static_cast<std::uint32_t>(values[at]) | static_cast<std::uint32_t>(values[at + 1])
                                                        << 16;
}

TMeterReading MakeReading(TMeteringBlock block, std::span<const std::uint16_t> values,
                          const TScaling& scaling, std::int64_t timeMs) {
    TMeterReading r;
    r.Block = block;
    r.Raw.assign(values.begin(), values.end());
    r.Scaling = scaling;
    r.TimeMs = timeMs;
    r.Values.resize(values.size());
    const bool energy = block == TMeteringBlock::Energy;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!energy || i % 2 == 0)
            r.Values[i] = MeteringValue(block, static_cast<int>(i), values, scaling);
    return r;
}
