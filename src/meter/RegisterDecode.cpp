#include "meter/RegisterDecode.h"

#include "meter/ValueFormat.h"
#include "meter/VersionRules.h"
#include "meter/cstMain.h"

namespace {

// Two characters per register, the high byte first; every byte is one Latin-1 character, so
// no meter byte can turn into markup or a multi-byte sequence.
QString RegisterText(std::span<const std::uint16_t> values) {
    QString text;
    text.reserve(static_cast<qsizetype>(values.size()) * 2);
    for (const std::uint16_t v : values) {
        text.append(QChar(static_cast<char16_t>(v >> 8)));
        text.append(QChar(static_cast<char16_t>(v & 0xFF)));
    }
    return text;
}

QString Cleaned(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (c.unicode() >= 32 && c.unicode() <= 126)
            out.append(c);
    return out;
}

} // namespace

namespace {

// A measurement as the page writes it, from its value in physical units.
QString MeasurementText(const TMeterReading& r, int offset) {
    const TMeasurementKind kind = MeasurementKind(offset);
    if (kind == TMeasurementKind::LoadType)
        return LoadTypeText(r.Raw[static_cast<std::size_t>(offset)]);
    const std::optional<double> v = r.Value(offset);
    if (!v)
        return {};
    switch (kind) {
    case TMeasurementKind::Volts:
        return FormatVolts(*v);
    case TMeasurementKind::Amps:
        return FormatAmps(*v);
    case TMeasurementKind::SignedPower:
        return offset == 12 ? FormatKW(*v) : FormatKvar(*v);
    case TMeasurementKind::Power:
        return FormatKVA(*v);
    case TMeasurementKind::Hz:
        return FormatHz(*v);
    case TMeasurementKind::PowerFactor:
        return FormatFixed(*v, 3);
    case TMeasurementKind::AO:
        return FormatAnalogOutput(*v, r.Scaling.AOType);
    case TMeasurementKind::LoadType:
        break;
    }
    return {};
}

} // namespace

std::array<QString, MeasurementCount> MeasurementTexts(const TMeterReading& reading) {
    std::array<QString, MeasurementCount> texts;
    for (std::size_t i = 0; i < texts.size() && i < reading.Raw.size(); ++i)
        texts[i] = MeasurementText(reading, static_cast<int>(i));
    return texts;
}

std::array<QString, MeasurementCount>
MeasurementTexts(const TScaling& scale, std::span<const std::uint16_t> values, bool ratiosKnown) {
    TScaling s = scale;
    s.RatiosKnown = s.RatiosKnown && ratiosKnown;
    return MeasurementTexts(MakeReading(TMeteringBlock::Measurement, values, s, 0));
}

int EnergyTexts(const TMeterReading& reading, std::array<QString, EnergyCount>& texts) {
    const std::size_t count = reading.Raw.size() > 4 ? EnergyCount : 2;
    int filled = 0;
    for (std::size_t i = 0; i < count && 2 * i + 1 < reading.Raw.size(); ++i) {
        // Counters alternate per pair of labels: Ep_total, Eq_total, Ep_imp, Ep_exp, Eq_imp,
        // Eq_exp; only the second and the last two are reactive.
        const bool reactive = i == 1 || i == 4 || i == 5;
        const double value = reading.Value(static_cast<int>(2 * i)).value_or(0);
        texts[i] = reactive ? FormatKvarh(value) : FormatKWh(value);
        filled = static_cast<int>(i) + 1;
    }
    return filled;
}

int EnergyTexts(std::span<const std::uint16_t> values, std::array<QString, EnergyCount>& texts) {
    return EnergyTexts(MakeReading(TMeteringBlock::Energy, values, TScaling{}, 0), texts);
}

TIdentity DecodeIdentity(std::span<const std::uint16_t> values) {
    QString t = RegisterText(values.first(std::min<std::size_t>(values.size(), 9)));
    t = t.leftJustified(18, QChar(u'\0'), true);
    const QString code = t.mid(0, 4);
    QString model = QString::fromLatin1(cstMain::Unknown);
    if (code.startsWith(QLatin1String("EB")) || code.startsWith(QLatin1String("ED")))
        model = QStringLiteral("KT5") + code.mid(2, 2);
    TIdentity id;
    id.DevType = Cleaned(code) + QStringLiteral(" (") + model + QLatin1Char(')');
    id.HardVersion = Cleaned(t.mid(4, 4));
    id.SoftVersion = Cleaned(t.mid(8, 4));
    id.ReleaseDate = QStringLiteral("20") + t.mid(12, 2) + QLatin1Char('-') + t.mid(14, 2) +
                     QLatin1Char('-') + t.mid(16, 2);
    return id;
}

QString DecodeSerialNumber(std::span<const std::uint16_t> values) {
    const QString t = RegisterText(values.first(std::min<std::size_t>(values.size(), 16)));
    const qsizetype end = t.indexOf(QChar(u'\0'));
    return end < 0 ? t : t.left(end);
}

QString AOTypeText(std::int32_t aoType) {
    switch (aoType) {
    case 1:
        return QString::fromLatin1(cstMain::Current);
    case 2:
        return QString::fromLatin1(cstMain::Voltage);
    default:
        return QString::fromLatin1(cstMain::NoValue);
    }
}

void UpdateRatios(std::span<const std::uint16_t> values, TRatioState& state, TScaling& scale) {
    if (values.size() < 10)
        return;
    const auto pt1 = static_cast<std::int32_t>(static_cast<std::uint32_t>(values[5]) |
                                               static_cast<std::uint32_t>(values[6]) << 16);
    state.LastPT2 = values[7];
    if (state.LastPT2 != 0)
        scale.PTRatio = pt1 / state.LastPT2;
    state.LastCT2 = values[9];
    if (state.LastCT2 != 0)
        scale.CTRatio = values[8] / state.LastCT2;
}

TPageAdaptation AdaptationFor(const QString& version) {
    TPageAdaptation a;
    const bool extended = ExtendedLayout(version);
    a.ShortenLists = !extended;
    a.HideDOEnergyOutputs = !extended;
    a.HideRelayAlarmGroup = !RelayAlarmLayout(version);
    a.HideExtendedEnergy = !extended;
    return a;
}
