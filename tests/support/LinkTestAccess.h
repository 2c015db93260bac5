// The tests' way to the link's Modbus master, which nothing else of the program touches: to
// drive the master's events by hand, step its clock, or tap what it sends.
#pragma once

#include "link/frmModbus.h"
#include "support/MeterRegisters.h"

#include <QString>

#include <cstdint>
#include <span>

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
        Answer(link, 0xF000, IdentityRegisters(version));
    }
};

// The same, for code that feeds a model through RegistersRead.
struct TLinkFeed {
    TFormModbus& Link;
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
        TLinkTestAccess::Answer(Link, start, values);
    }
};
