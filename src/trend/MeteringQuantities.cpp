#include "trend/MeteringQuantities.h"

#include "meter/NumberText.h"
#include "meter/RegisterDecode.h"
#include "meter/ValueFormat.h"
#include "meter/cstMain.h"

namespace {

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
    switch (MeasurementKind(q.Offset)) {
    case TMeasurementKind::Volts:
        return VoltageDecimals(value);
    case TMeasurementKind::Hz:
        return 2;
    case TMeasurementKind::PowerFactor:
    case TMeasurementKind::AO:
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
                         MeasurementKind(i) != TMeasurementKind::LoadType});
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
    switch (MeasurementKind(q.Offset)) {
    case TMeasurementKind::Volts:
        return QStringLiteral("V");
    case TMeasurementKind::Amps:
        return QStringLiteral("A");
    case TMeasurementKind::SignedPower:
        return q.Offset == 12 ? QStringLiteral("kW") : QStringLiteral("kvar");
    case TMeasurementKind::Power:
        return QStringLiteral("kVA");
    case TMeasurementKind::Hz:
        return QStringLiteral("Hz");
    case TMeasurementKind::AO:
        return scaling.AOType == 2 ? QStringLiteral("V") : QStringLiteral("mA");
    default:
        return {};
    }
}

std::optional<double> QuantityValue(const TQuantity& q, const TMeterReading& reading) {
    return q.Block == reading.Block ? reading.Value(q.Offset) : std::nullopt;
}

QString QuantityText(const TQuantity& q, const TMeterReading& reading) {
    const auto at = static_cast<std::size_t>(q.Offset);
    if (q.Block != reading.Block || at >= reading.Raw.size())
        return {};
    if (q.Block == TMeteringBlock::Relays || q.Block == TMeteringBlock::Inputs)
        return QString::fromLatin1(reading.Raw[at] ? cstMain::On : cstMain::Off);
    if (q.Block == TMeteringBlock::Measurement &&
        MeasurementKind(q.Offset) == TMeasurementKind::LoadType)
        return LoadTypeText(reading.Raw[at]);
    const auto value = QuantityValue(q, reading);
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
