#include "trend/MeteringQuantities.h"

#include "meter/NumberText.h"
#include "meter/RegisterDecode.h"
#include "meter/ValueFormat.h"
#include "meter/cstMain.h"

namespace {

// How a measurement register becomes its value; mirrors the page's decoders.
enum class TScale { Volts, Amps, SignedPower, Power, Hz, PowerFactor, LoadType, AO };

constexpr TScale MeasurementScale[MeasurementCount] = {
    TScale::Volts, TScale::Volts,       TScale::Volts,       TScale::Volts,       TScale::Volts,
    TScale::Volts, TScale::Amps,        TScale::Amps,        TScale::Amps,        TScale::Volts,
    TScale::Volts, TScale::Amps,        TScale::SignedPower, TScale::SignedPower, TScale::Power,
    TScale::Hz,    TScale::PowerFactor, TScale::LoadType,    TScale::AO,          TScale::AO,
    TScale::Amps,
};

constexpr const char* MeasurementNames[MeasurementCount] = {
    "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
    "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
    "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total", "Load Type",
    "AO 1",       "AO 2",      "I N",
};

constexpr const char* EnergyNames[EnergyCount] = {"Ep_total", "Eq_total", "Ep_imp",
                                                  "Ep_exp",   "Eq_imp",   "Eq_exp"};

bool ReactiveEnergy(int counter) {
    return counter == 1 || counter == 4 || counter == 5;
}

int Decimals(const TQuantity& q, double value) {
    if (q.Block == TMeteringBlock::Energy)
        return 1;
    switch (MeasurementScale[q.Offset]) {
    case TScale::Volts:
        return VoltageDecimals(value);
    case TScale::Hz:
        return 2;
    case TScale::PowerFactor:
    case TScale::AO:
        return 3;
    default:
        return AutoDecimals(value);
    }
}

} // namespace

const std::vector<TQuantity>& MeteringQuantities() {
    static const std::vector<TQuantity> all = [] {
        std::vector<TQuantity> q;
        q.reserve(MeasurementCount + EnergyCount + RelayCount + InputCount);
        for (int i = 0; i < MeasurementCount; ++i)
            q.push_back({QString::fromLatin1(MeasurementNames[i]), TMeteringBlock::Measurement, i,
                         MeasurementScale[i] != TScale::LoadType});
        for (int i = 0; i < EnergyCount; ++i)
            q.push_back({QString::fromLatin1(EnergyNames[i]), TMeteringBlock::Energy, 2 * i, true});
        for (int i = 0; i < RelayCount; ++i)
            q.push_back({QStringLiteral("Relay %1").arg(i + 1), TMeteringBlock::Relays, i, false});
        for (int i = 0; i < InputCount; ++i)
            q.push_back({QStringLiteral("DI %1").arg(i + 1), TMeteringBlock::Inputs, i, false});
        return q;
    }();
    return all;
}

QString QuantityUnit(const TQuantity& q, const TScaling& scaling) {
    if (q.Block == TMeteringBlock::Energy)
        return ReactiveEnergy(q.Offset / 2) ? QStringLiteral("kvarh") : QStringLiteral("kWh");
    if (q.Block != TMeteringBlock::Measurement)
        return {};
    switch (MeasurementScale[q.Offset]) {
    case TScale::Volts:
        return QStringLiteral("V");
    case TScale::Amps:
        return QStringLiteral("A");
    case TScale::SignedPower:
        return q.Offset == 12 ? QStringLiteral("kW") : QStringLiteral("kvar");
    case TScale::Power:
        return QStringLiteral("kVA");
    case TScale::Hz:
        return QStringLiteral("Hz");
    case TScale::AO:
        return scaling.AOType == 2 ? QStringLiteral("V") : QStringLiteral("mA");
    default:
        return {};
    }
}

namespace {

bool ScaledByRatios(TScale scale) {
    return scale == TScale::Volts || scale == TScale::Amps || scale == TScale::SignedPower ||
           scale == TScale::Power;
}

} // namespace

std::optional<double> QuantityValue(const TQuantity& q, std::span<const std::uint16_t> values,
                                    const TScaling& scaling) {
    const auto at = static_cast<std::size_t>(q.Offset);
    switch (q.Block) {
    case TMeteringBlock::Energy:
        if (at + 1 >= values.size())
            return std::nullopt;
        return static_cast<double>(static_cast<std::uint32_t>(values[at]) |
                                   static_cast<std::uint32_t>(values[at + 1]) << 16) /
               10;
    case TMeteringBlock::Relays:
    case TMeteringBlock::Inputs:
        if (at >= values.size())
            return std::nullopt;
        return values[at] ? 1.0 : 0.0;
    case TMeteringBlock::Measurement:
        break;
    }
    if (at >= values.size())
        return std::nullopt;
    const std::uint16_t raw = values[at];
    if (!scaling.RatiosKnown && ScaledByRatios(MeasurementScale[q.Offset]))
        return std::nullopt;
    const double pt = scaling.PTRatio;
    const double ct = scaling.CTRatio;
    switch (MeasurementScale[q.Offset]) {
    case TScale::Volts:
        return raw * pt / 10;
    case TScale::Amps:
        return raw * ct / 1000;
    case TScale::SignedPower:
        return static_cast<std::int16_t>(raw) * pt * ct / 1000;
    case TScale::Power:
        return raw * pt * ct / 1000;
    case TScale::Hz:
        return raw / 100.0;
    case TScale::PowerFactor:
        return static_cast<std::int16_t>(raw) / 1000.0;
    case TScale::AO:
        return raw / 1000.0;
    case TScale::LoadType:
        return std::nullopt;
    }
    return std::nullopt;
}

QString QuantityText(const TQuantity& q, std::span<const std::uint16_t> values,
                     const TScaling& scaling) {
    const auto at = static_cast<std::size_t>(q.Offset);
    if (q.Block == TMeteringBlock::Relays || q.Block == TMeteringBlock::Inputs) {
        if (at >= values.size())
            return {};
        return QString::fromLatin1(values[at] ? cstMain::On : cstMain::Off);
    }
    if (q.Block == TMeteringBlock::Measurement && MeasurementScale[q.Offset] == TScale::LoadType)
        return at < values.size() ? LoadTypeText(values[at]) : QString();
    const auto value = QuantityValue(q, values, scaling);
    if (!value)
        return {};
    return FixedText(*value, Decimals(q, *value), u".");
}

QString QuantityShownText(const TQuantity& q, double value, const TScaling& scaling) {
    const QString unit = QuantityUnit(q, scaling);
    return FormatFixed(value, Decimals(q, value)) + (unit.isEmpty() ? QString() : u' ' + unit);
}

int BlockWidth(TMeteringBlock block) {
    switch (block) {
    case TMeteringBlock::Measurement:
        return MeasurementCount;
    case TMeteringBlock::Energy:
        return 2 * EnergyCount;
    case TMeteringBlock::Relays:
        return RelayCount;
    case TMeteringBlock::Inputs:
        return InputCount;
    }
    return 0;
}

QString RawColumnName(TMeteringBlock block, int i) {
    const auto hex = [](int address) {
        return QStringLiteral("0x") +
               QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    };
    switch (block) {
    case TMeteringBlock::Measurement:
        return hex(rbMeasurement + i);
    case TMeteringBlock::Energy:
        return hex(rbEnergy + i);
    case TMeteringBlock::Relays:
        return QStringLiteral("coil %1").arg(i);
    case TMeteringBlock::Inputs:
        return QStringLiteral("input %1").arg(i);
    }
    return {};
}
