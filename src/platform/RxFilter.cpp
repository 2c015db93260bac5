#include "platform/RxFilter.h"

std::size_t TRxFilter::Apply(const TRxFilterConfig& config, char* data, std::size_t length) {
    std::size_t out = 0;
    auto emit = [&](char c) {
        if (!(config.DropNull && c == '\0')) {
            data[out++] = c;
        }
    };
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (!config.Marked) {
            emit(c);
            continue;
        }
        switch (FState) {
        case 0:
            if (c == '\xff') {
                FState = 1;
            } else {
                emit(c);
            }
            break;
        case 1:
            if (c == '\xff') {
                emit('\xff');
                FState = 0;
            } else if (c == '\0') {
                FState = 2;
            } else {
                // The driver never writes a lone FF while marking (it doubles real ones);
                // it can only be left from before marking was switched on. Dropped: the
                // byte after it may be the first of a new call, with no room for two.
                emit(c);
                FState = 0;
            }
            break;
        default:
            emit(config.Replacement);
            FState = 0;
            break;
        }
    }
    return out;
}

std::uint32_t PackRxFilter(const TRxFilterConfig& config) {
    return static_cast<std::uint8_t>(config.Replacement) | (config.Marked ? 0x100u : 0u) |
           (config.DropNull ? 0x200u : 0u);
}

TRxFilterConfig UnpackRxFilter(std::uint32_t packed) {
    return {(packed & 0x100u) != 0, (packed & 0x200u) != 0, static_cast<char>(packed & 0xFFu)};
}
