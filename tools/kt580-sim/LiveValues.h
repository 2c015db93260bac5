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

// Total active and reactive power on the secondary side, signed.
struct TPower {
    double ActiveW = 0;
    double ReactiveVar = 0;
};

// The power alone, for integrating energy without working out every register.
TPower ComputePower(const TSettingsImage& settings, double seconds);

// `aoType` 2 drives the analog outputs as voltages, anything else as currents.
TLiveValues ComputeLiveValues(const TSettingsImage& settings, uint16_t aoType, double seconds);

// Analog output reading (mA or V) for an output configured by its six registers, given the
// 17 quantities of the measurement block in physical units.
double AnalogOutput(const std::array<double, 17>& quantities, const uint16_t aoRegisters[6],
                    double phaseNominal, double lineNominal, double currentNominal,
                    bool voltageOutput);

} // namespace kt580sim
