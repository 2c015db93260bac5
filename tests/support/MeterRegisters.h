// Register blocks made from texts, as a meter holds them: the identity block and any text
// block. Free of QtTest so that the benchmarks can use it beside the tests.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// Register values holding a text, two characters per register with the first one in the high
// byte; the text is cut or padded with zero bytes to `count` registers.
inline std::vector<std::uint16_t> TextRegisters(const QByteArray& text, int count) {
    const QByteArray t = text.leftJustified(2 * count, '\0', true);
    std::vector<std::uint16_t> regs;
    for (int i = 0; i < 2 * count; i += 2)
        regs.push_back(std::uint16_t((std::uint8_t(t[i]) << 8) | std::uint8_t(t[i + 1])));
    return regs;
}

// The identity block (0xF000, nine registers) of a meter with that software version, padded
// with blanks to four characters: device type, hardware version "1.00", release date.
inline std::vector<std::uint16_t> IdentityRegisters(const QString& version,
                                                    const QByteArray& type = "ED80",
                                                    const QByteArray& date = "190815") {
    return TextRegisters(type + "1.00" + version.toLatin1().leftJustified(4, ' ') + date, 9);
}
