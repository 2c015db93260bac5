#include "EnergyCounters.h"

#include <algorithm>
#include <cmath>

namespace kt580sim {

void TEnergyCounters::Add(int counter, double tenths) {
    const double total = FFraction[counter] + tenths;
    // The margin keeps sums like 3600 x (1/3600) from landing a hair below a whole tenth.
    const double whole = std::floor(total + 1e-9);
    FFraction[counter] = std::max(0.0, total - whole);
    // Counters wrap at 32 bits as the register pair does.
    FTenths[counter] += static_cast<uint32_t>(std::fmod(whole, 4294967296.0));
}

void TEnergyCounters::Integrate(double activeKw, double reactiveKvar, double hours) {
    if (!(hours > 0)) {
        return;
    }
    const double p = activeKw * hours * 10; // tenths of kWh
    const double q = reactiveKvar * hours * 10;
    Add(EpTotal, std::fabs(p));
    Add(EqTotal, std::fabs(q));
    Add(p >= 0 ? EpImp : EpExp, std::fabs(p));
    Add(q >= 0 ? EqImp : EqExp, std::fabs(q));
}

void TEnergyCounters::Set(int counter, uint32_t tenths) {
    FTenths.at(counter) = tenths;
    FFraction.at(counter) = 0;
}

void TEnergyCounters::Reset() {
    FTenths.fill(0);
    FFraction.fill(0);
}

} // namespace kt580sim
