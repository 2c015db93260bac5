// The meter link's scaling state, read by the value conversions. The link owns it;
// the conversions take it by reference so they stay pure.
#pragma once

#include <cstdint>

struct TScaling {
    double PTRatio = 1.0; // PT1 / PT2, scales voltages and powers
    double CTRatio = 1.0; // CT1 / CT2, scales currents and powers
    int32_t AOType = 0;   // analog output type register: 1 current, 2 voltage
    // False until the meter now connected has answered its ratios: nothing scaled by them
    // may be shown or recorded.
    bool RatiosKnown = true;
};
