// What the codec fuzz targets share: the settings picked by the input's first byte, and the
// check that stops the run on a broken invariant.
#pragma once

#include "modbus/KrModbusCodec.h"

#include <cstdint>
#include <cstdlib>

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Bits 0-3 of `flags`: ASCII, old format, end check, lower case.
inline TKrCodecSettings SettingsFromFlags(std::uint8_t flags) {
    TKrCodecSettings settings;
    settings.Mode = (flags & 1) ? tmAscii : tmRtu;
    settings.ProtocolVersion = (flags & 2) ? pvOldFormat : pvGB19582_2008;
    settings.EndCheck = (flags & 4) != 0;
    settings.AsciiOutput = (flags & 8) ? amLowerCase : amUpperCase;
    return settings;
}
