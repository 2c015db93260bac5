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

std::array<QString, MeasurementCount>
MeasurementTexts(const TScaling& scale, std::span<const std::uint16_t> values, bool ratiosKnown) {
    using TDecoder = QString (*)(const TScaling&, std::uint16_t);
    struct TRegister {
        TDecoder Decode;
        bool ByRatios; // scaled by the PT or CT ratio, or both
    };
    static constexpr TRegister Registers[MeasurementCount] = {
        {VoltageText, true},
        {VoltageText, true},
        {VoltageText, true},
        {VoltageText, true},
        {VoltageText, true},
        {VoltageText, true},
        {CurrentText, true},
        {CurrentText, true},
        {CurrentText, true},
        {VoltageText, true},
        {VoltageText, true},
        {CurrentText, true},
        {ActivePowerText, true},
        {ReactivePowerText, true},
        {ApparentPowerText, true},
        {[](const TScaling&, std::uint16_t raw) { return FrequencyText(raw); }, false},
        {[](const TScaling&, std::uint16_t raw) { return PowerFactorText(raw); }, false},
        {[](const TScaling&, std::uint16_t raw) { return LoadTypeText(raw); }, false},
        {AnalogOutputText, false},
        {AnalogOutputText, false},
        {CurrentText, true},
    };
    std::array<QString, MeasurementCount> texts;
    for (std::size_t i = 0; i < texts.size() && i < values.size(); ++i)
        if (ratiosKnown || !Registers[i].ByRatios)
            texts[i] = Registers[i].Decode(scale, values[i]);
    return texts;
}

int EnergyTexts(std::span<const std::uint16_t> values, std::array<QString, EnergyCount>& texts) {
    const std::size_t count = values.size() > 4 ? EnergyCount : 2;
    int filled = 0;
    for (std::size_t i = 0; i < count && 2 * i + 1 < values.size(); ++i) {
        const std::uint16_t low = values[2 * i];
        const std::uint16_t high = values[2 * i + 1];
        // Counters alternate per pair of labels: Ep_total, Eq_total, Ep_imp, Ep_exp, Eq_imp,
        // Eq_exp; only the second and the last two are reactive.
        const bool reactive = i == 1 || i == 4 || i == 5;
        texts[i] = reactive ? ReactiveEnergyText(low, high) : ActiveEnergyText(low, high);
        filled = static_cast<int>(i) + 1;
    }
    return filled;
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
