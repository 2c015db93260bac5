#include "LiveValues.h"

#include "Registers.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace kt580sim {

namespace {

constexpr double TwoPi = 2 * std::numbers::pi;

double Wave(double seconds, double period, double phase) {
    return std::sin(TwoPi * seconds / period + phase);
}

uint16_t Unsigned(double value) {
    return static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

uint16_t Signed(double value) {
    const long v = std::clamp(std::lround(value), -32768L, 32767L);
    return static_cast<uint16_t>(static_cast<int16_t>(v));
}

uint16_t Get(const TSettingsImage& settings, uint16_t r, uint16_t fallback) {
    const auto it = settings.find(r);
    return it == settings.end() ? fallback : it->second;
}

} // namespace

double AnalogOutput(const std::array<double, 17>& quantities, const uint16_t ao[6],
                    double phaseNominal, double lineNominal, double currentNominal,
                    bool voltageOutput) {
    const uint16_t object = ao[reg::AOObject];
    if (object >= quantities.size()) {
        return 0;
    }
    const double powerNominal = 3 * phaseNominal * currentNominal;
    // Full scale of each channel is 120 % of its nominal value; the signed channels
    // (powers and power factor) map -full..+full onto 0..100 %.
    double fraction = 0;
    const double value = quantities[object];
    if (object <= 2 || object == 9) {
        fraction = value / (1.2 * phaseNominal);
    } else if (object <= 5 || object == 10) {
        fraction = value / (1.2 * lineNominal);
    } else if (object <= 8 || object == 11) {
        fraction = value / (1.2 * currentNominal);
    } else if (object == 12 || object == 13) {
        fraction = (value / (1.2 * powerNominal) + 1) / 2;
    } else if (object == 14) {
        fraction = value / (1.2 * powerNominal);
    } else if (object == 15) {
        fraction = value / 65.0;
    } else {
        fraction = (value + 1) / 2;
    }
    const double high = (ao[reg::AOHighSign] == 1 ? -1.0 : 1.0) * ao[reg::AOHighLimit];
    const double low = (ao[reg::AOLowSign] == 1 ? -1.0 : 1.0) * ao[reg::AOLowLimit];
    double out = 0;
    if (high != low) {
        out = std::clamp((fraction * 100 - low) / (high - low), 0.0, 1.0);
    }
    const bool offset = ao[reg::AOMode] == 1; // 4-20 mA or 1-5 V
    if (voltageOutput) {
        return offset ? 1 + 4 * out : 5 * out;
    }
    return offset ? 4 + 16 * out : 20 * out;
}

namespace {

// The phase voltages and currents of the load at time t, and the angle between them.
struct TLoad {
    std::array<double, 3> V;
    std::array<double, 3> I;
    double Angle;
    // +1, or -1 for a current transformer connected the wrong way round.
    std::array<double, 3> Sign{1, 1, 1};
};

TLoad LoadAt(const TSettingsImage& settings, double t, const TWiring& wiring) {
    const double pt2 = std::max<double>(Get(settings, reg::PT2, 400), 1);
    const double ct2 = std::max<double>(Get(settings, reg::CT2, 5), 1);
    const double vNominal = pt2 / std::sqrt(3.0);
    const double iNominal = 0.6 * ct2;
    TLoad load;
    load.V = {vNominal * (1 + 0.010 * Wave(t, 97, 0)), vNominal * (1 + 0.012 * Wave(t, 113, 1)),
              vNominal * (1 + 0.008 * Wave(t, 131, 2))};
    load.I = {iNominal * (1 + 0.15 * Wave(t, 181, 0)), iNominal * (1 + 0.12 * Wave(t, 157, 0.5)),
              iNominal * (1 + 0.18 * Wave(t, 199, 1.3))};
    // The load swings between inductive and capacitive, and now and then feeds back
    // (generation), so signed powers and all four quadrants show up.
    load.Angle = 0.45 * Wave(t, 240, 0);
    if (Wave(t, 1200, 0) < -0.85) {
        load.Angle += std::numbers::pi;
    }
    load.I[0] *= 1 + wiring.Unbalance;
    load.I[2] *= std::max(0.0, 1 - wiring.Unbalance);
    if (wiring.MissingPhase >= 0 && wiring.MissingPhase < 3) {
        load.V[static_cast<std::size_t>(wiring.MissingPhase)] = 0;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        load.Sign[k] = wiring.ReversedCT[k] ? -1 : 1;
    }
    return load;
}

TPower PowerOf(const TLoad& load) {
    TPower power;
    for (int k = 0; k < 3; ++k) {
        power.ActiveW += load.Sign[k] * load.V[k] * load.I[k] * std::cos(load.Angle);
        power.ReactiveVar += load.Sign[k] * load.V[k] * load.I[k] * std::sin(load.Angle);
    }
    return power;
}

} // namespace

TPower ComputePower(const TSettingsImage& settings, double seconds, const TWiring& wiring) {
    return PowerOf(LoadAt(settings, seconds, wiring));
}

namespace {

// The measurement block in physical units, in register order (phase voltages, line voltages,
// currents, averages, P, Q, S, frequency, power factor), and what goes with it.
struct TMeasured {
    std::array<double, 17> Quantities;
    double NeutralCurrent;
    char Load; // 'R', 'L' or 'C'
};

TMeasured Measure(const TLoad& state, double t) {
    using C = std::complex<double>;
    const std::array<double, 3>& v = state.V;
    const std::array<double, 3>& i = state.I;
    const C a = std::polar(1.0, -TwoPi / 3);
    const C va(v[0]);
    const C vb = v[1] * a;
    const C vc = v[2] * a * a;
    const double vab = std::abs(va - vb);
    const double vbc = std::abs(vb - vc);
    const double vca = std::abs(vc - va);
    const std::array<double, 3>& sign = state.Sign;
    const double in = std::abs(sign[0] * C(i[0]) + sign[1] * i[1] * a + sign[2] * i[2] * a * a);

    const TPower power = PowerOf(state);
    const double p = power.ActiveW;
    const double q = power.ReactiveVar;
    const double s = std::hypot(p, q);
    const double pf = s > 0 ? p / s : 1.0;
    const double f = 50 + 0.03 * Wave(t, 60, 0);
    const double vln = (v[0] + v[1] + v[2]) / 3;
    const double vll = (vab + vbc + vca) / 3;
    const double iavg = (i[0] + i[1] + i[2]) / 3;
    char load = 'R';
    if (q > 0.05 * s) {
        load = 'L';
    } else if (q < -0.05 * s) {
        load = 'C';
    }
    return {{v[0], v[1], v[2], vab, vbc, vca, i[0], i[1], i[2], vln, vll, iavg, p, q, s, f, pf},
            in,
            load};
}

std::array<double, 2> AnalogOutputs(const TSettingsImage& settings,
                                    const std::array<double, 17>& quantities, uint16_t aoType) {
    const double pt2 = std::max<double>(Get(settings, reg::PT2, 400), 1);
    const double ct2 = std::max<double>(Get(settings, reg::CT2, 5), 1);
    const double vNominal = pt2 / std::sqrt(3.0);
    const double iNominal = 0.6 * ct2;
    const bool voltageOutput = aoType == 2;
    std::array<double, 2> ao{};
    for (int k = 0; k < 2; ++k) {
        uint16_t regs[6];
        for (int r = 0; r < 6; ++r) {
            regs[r] = Get(settings, static_cast<uint16_t>(reg::Settings1300 + 6 * k + r), 0);
        }
        ao[k] = AnalogOutput(quantities, regs, vNominal, pt2, iNominal, voltageOutput);
    }
    return ao;
}

} // namespace

TLiveValues ComputeLiveValues(const TSettingsImage& settings, uint16_t aoType, double seconds,
                              const TWiring& wiring) {
    const TMeasured m = Measure(LoadAt(settings, seconds, wiring), seconds);
    const std::array<double, 2> ao = AnalogOutputs(settings, m.Quantities, aoType);
    const std::array<double, 17>& q = m.Quantities;
    TLiveValues live;
    auto& r = live.Registers;
    for (int k = 0; k < 6; ++k) {
        r[k] = Unsigned(q[k] * 10); // phase and line voltages
    }
    for (int k = 6; k < 9; ++k) {
        r[k] = Unsigned(q[k] * 1000); // currents
    }
    r[9] = Unsigned(q[9] * 10);
    r[10] = Unsigned(q[10] * 10);
    r[11] = Unsigned(q[11] * 1000);
    r[12] = Signed(q[12]);
    r[13] = Signed(q[13]);
    r[14] = Unsigned(q[14]);
    r[15] = Unsigned(q[15] * 100);
    r[16] = Signed(q[16] * 1000);
    r[17] = static_cast<uint16_t>(static_cast<unsigned char>(m.Load));
    r[18] = Unsigned(ao[0] * 1000);
    r[19] = Unsigned(ao[1] * 1000);
    r[20] = Unsigned(m.NeutralCurrent * 1000);
    for (int k = 0; k < 6; ++k) {
        live.Inputs[k] = (static_cast<long>(std::floor(seconds / (7.0 + 4 * k))) % 2) != 0;
    }
    return live;
}

} // namespace kt580sim
