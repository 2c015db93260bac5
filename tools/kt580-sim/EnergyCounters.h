// The meter's six energy counters: whole tenths of kWh or kvarh in 32 bits, with the
// fraction below a tenth carried so that slow loads still count up.
#pragma once

#include <array>
#include <cstdint>

namespace kt580sim {

class TEnergyCounters {
public:
    // Order of the registers: Ep_total, Eq_total, Ep_imp, Ep_exp, Eq_imp, Eq_exp.
    enum { EpTotal, EqTotal, EpImp, EpExp, EqImp, EqExp, Count };

    // Adds `hours` of a primary active power (kW) and reactive power (kvar).
    void Integrate(double activeKw, double reactiveKvar, double hours);

    uint32_t Tenths(int counter) const { return FTenths.at(counter); }
    // Sets a counter; the fraction already gathered is dropped, as a preset starts afresh.
    void Set(int counter, uint32_t tenths);
    void Reset();

private:
    void Add(int counter, double tenths);

    std::array<uint32_t, Count> FTenths{};
    std::array<double, Count> FFraction{};
};

} // namespace kt580sim
