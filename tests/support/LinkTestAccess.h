// The tests' way to the link's Modbus master, which nothing else of the program touches: to
// drive the master's events by hand, step its clock, or tap what it sends.
#pragma once

#include "link/frmModbus.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

class TLinkTestAccess {
public:
    static TKrModbus& Master(TFormModbus& link) { return link.FModbus; }
    // An answer of the meter now reached, put into its model as the link puts it.
    static void Answer(TFormModbus& link, std::uint16_t start,
                       std::span<const std::uint16_t> values) {
        link.FMeter->RegistersRead(start, values);
    }
    // The meter now reached names its software version (its identity block is read).
    static void ReadVersion(TFormModbus& link, const QString& version) {
        // Device type, hardware version, the version padded to four characters, release date:
        // two characters a register, the high byte first.
        const QByteArray text = "ED801.00" + version.toLatin1().leftJustified(4, ' ') + "190815";
        std::vector<std::uint16_t> regs;
        for (qsizetype i = 0; i + 1 < text.size(); i += 2)
            regs.push_back(static_cast<std::uint16_t>(static_cast<std::uint8_t>(text[i]) << 8 |
                                                      static_cast<std::uint8_t>(text[i + 1])));
        Answer(link, 0xF000, regs);
    }
};

// The same, for code that feeds a model through RegistersRead.
struct TLinkFeed {
    TFormModbus& Link;
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
        TLinkTestAccess::Answer(Link, start, values);
    }
};
