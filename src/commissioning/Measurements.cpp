#include "commissioning/Measurements.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr TQuantityInfo Infos[QuantityCount] = {
    {"Volts AN", "V", 1},
    {"Volts BN", "V", 1},
    {"Volts CN", "V", 1},
    {"Volts AB", "V", 1},
    {"Volts BC", "V", 1},
    {"Volts CA", "V", 1},
    {"I A", "A", 3},
    {"I B", "A", 3},
    {"I C", "A", 3},
    {"Volts LN Average", "V", 1},
    {"Volts LL Average", "V", 1},
    {"I Average", "A", 3},
    {"Watt Total", "kW", 3},
    {"VAR Total", "kvar", 3},
    {"VA Total", "kVA", 3},
    {"Frequency", "Hz", 2},
    {"Pwr Factor Total", "", 3},
    {"I N", "A", 3},
};

} // namespace

const TQuantityInfo& QuantityInfo(int quantity) {
    return Infos[std::clamp(quantity, 0, QuantityCount - 1)];
}

double QuantityStep(int quantity, const TScaling& scale) {
    switch (quantity) {
    case qIa:
    case qIb:
    case qIc:
    case qIAvg:
    case qIn:
        return 0.001 * scale.CTRatio;
    case qP:
    case qQ:
    case qS:
        return 0.001 * scale.PTRatio * scale.CTRatio;
    case qF:
        return 0.01;
    case qPF:
        return 0.001;
    default: // the voltages
        return 0.1 * scale.PTRatio;
    }
}

int StepDecimals(double step) {
    if (!(step > 0))
        return 3;
    // 1e-9: 0.1 is a little more than a tenth in binary and must give one decimal, not two.
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

double RoundToStep(double value, double step) {
    const double scale = std::pow(10.0, StepDecimals(step));
    return std::round(value * scale) / scale;
}

bool MeasurementFrom(const TMeterReading& r, TMeasurement& out) {
    // Register offset of each quantity in the measurement block.
    static constexpr int Offsets[QuantityCount] = {0, 1,  2,  3,  4,  5,  6,  7,  8,
                                                   9, 10, 11, 12, 13, 14, 15, 16, 20};
    if (r.Block != TMeteringBlock::Measurement || r.Raw.size() < 21)
        return false;
    TMeasurement m;
    for (int k = 0; k < QuantityCount; ++k) {
        const std::optional<double> v = r.Value(Offsets[k]);
        if (!v)
            return false;
        m.Values[static_cast<std::size_t>(k)] = *v;
    }
    m.LoadType = static_cast<char>(r.Raw[17] & 0xFF);
    out = m;
    return true;
}

void TMeasurementWindow::Add(std::int64_t ms, const TMeasurement& m) {
    FSamples.emplace_back(ms, m);
    while (!FSamples.empty() && FSamples.front().first < ms - FSpanMs)
        FSamples.pop_front();
}

TSnapshot TMeasurementWindow::Snapshot(std::int64_t nowMs) const {
    TSnapshot s;
    for (const auto& [ms, m] : FSamples) {
        if (ms < nowMs - FSpanMs || ms > nowMs)
            continue;
        if (s.Samples == 0) {
            s.FirstMs = ms;
            for (int k = 0; k < QuantityCount; ++k)
                s.Stats[k] = {0, m.Values[k], m.Values[k]};
        }
        s.LastMs = ms;
        ++s.Samples;
        for (int k = 0; k < QuantityCount; ++k) {
            TQuantityStats& st = s.Stats[k];
            st.Average += m.Values[k];
            st.Minimum = std::min(st.Minimum, m.Values[k]);
            st.Maximum = std::max(st.Maximum, m.Values[k]);
        }
    }
    for (TQuantityStats& st : s.Stats)
        if (s.Samples > 0)
            st.Average /= s.Samples;
    return s;
}
