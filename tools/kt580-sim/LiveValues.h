// Live measurements of a plausible three-phase load that drift slowly with time, as raw
// register values on the secondary side of the transformers (the master applies the ratios).
#pragma once

#include "SettingsChecks.h"

#include <array>
#include <cstdint>

namespace kt580sim {

struct TLiveValues {
    std::array<uint16_t, 21> Registers{}; // 0x1400..0x1414
    std::array<bool, 6> Inputs{};
};

// A meter wired wrong, for trying the installation check: a phase whose voltage input is
// missing, current transformers connected the wrong way round, a load unbalanced between the
// phases (phase A carries 1 + Unbalance times the balanced current, phase C 1 - Unbalance).
struct TWiring {
    int MissingPhase = -1; // 0 A, 1 B, 2 C
    std::array<bool, 3> ReversedCT{};
    double Unbalance = 0;
};

// Total active and reactive power on the secondary side, signed.
struct TPower {
    double ActiveW = 0;
    double ReactiveVar = 0;
};

// The power alone, for integrating energy without working out every register.
TPower ComputePower(const TSettingsImage& settings, double seconds, const TWiring& wiring = {});

// `aoType` 2 drives the analog outputs as voltages, anything else as currents.
TLiveValues ComputeLiveValues(const TSettingsImage& settings, uint16_t aoType, double seconds,
                              const TWiring& wiring = {});

// Analog output reading (mA or V) for an output configured by its six registers, given the
// 17 quantities of the measurement block in physical units.
double AnalogOutput(const std::array<double, 17>& quantities, const uint16_t aoRegisters[6],
                    double phaseNominal, double lineNominal, double currentNominal,
                    bool voltageOutput);

} // namespace kt580sim
