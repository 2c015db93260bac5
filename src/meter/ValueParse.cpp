#include "meter/ValueParse.h"

#include "meter/NumberText.h"
#include "meter/ValueFormat.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace {

// Beyond 2^53 a double no longer holds every integer, and far beyond it the cast to
// int64_t would be undefined; no register comes near this.
constexpr double MaxExactInteger = 9007199254740992.0;

QString Reduced(const QString& text) {
    return StripTrailingNonDigits(TrimText(text));
}

int64_t Rounded(double value, const QString& text) {
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded) || std::fabs(rounded) > MaxExactInteger)
        RaiseOutOfRange(text);
    return static_cast<int64_t>(rounded);
}

[[noreturn]] void RaiseNotInteger(const QString& shown) {
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(shown));
}

} // namespace

void RaiseOutOfRange(const QString& text) {
    throw ERangeError(TrimText(text));
}

double ParseNumber(const QString& text) {
    const QString reduced = Reduced(text);
    const auto value = DecimalNumber(reduced, QLocale().decimalPoint());
    if (!value)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid floating point value").arg(reduced));
    return *value;
}

int32_t ParseInteger(const QString& text) {
    return PlainInteger(Reduced(text));
}

int32_t PlainInteger(const QString& text) {
    const auto value = DecimalInteger(text, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max());
    if (!value)
        RaiseNotInteger(text);
    return static_cast<int32_t>(*value);
}

uint32_t PlainUnsigned32(const QString& text) {
    const auto value = DecimalInteger(text, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<uint32_t>::max());
    if (!value)
        RaiseNotInteger(text);
    if (*value < 0)
        RaiseOutOfRange(text);
    return static_cast<uint32_t>(*value);
}

int64_t VoltageToRaw(const TScaling& scale, const QString& text) {
    return Rounded(ParseNumber(text) / scale.PTRatio * 10, text);
}

int64_t CurrentToRaw(const TScaling& scale, const QString& text) {
    return Rounded(ParseNumber(text) / scale.CTRatio * 1000, text);
}

int64_t PowerToRaw(const TScaling& scale, const QString& text) {
    return Rounded(ParseNumber(text) / scale.PTRatio / scale.CTRatio * 1000, text);
}

int64_t PowerFactorToRaw(const QString& text) {
    return Rounded(ParseNumber(text) * 1000, text);
}

int64_t FrequencyToRaw(const QString& text) {
    return Rounded(ParseNumber(text) * 100, text);
}

int32_t IntegerToRaw(const QString& text) {
    return ParseInteger(text);
}

uint32_t EnergyToRaw(const QString& text) {
    const int64_t raw = Rounded(ParseNumber(text) * 10, text);
    if (raw < 0 || raw > std::numeric_limits<uint32_t>::max())
        RaiseOutOfRange(text);
    return static_cast<uint32_t>(raw);
}

int32_t AlarmValueToRaw(const TScaling& scale, int type, const QString& text) {
    int64_t raw = 0;
    switch (AlarmQuantity(type)) {
    case TAlarmQuantity::Voltage:
        raw = VoltageToRaw(scale, text);
        break;
    case TAlarmQuantity::Current:
        raw = CurrentToRaw(scale, text);
        break;
    case TAlarmQuantity::Power:
        raw = PowerToRaw(scale, text);
        break;
    case TAlarmQuantity::Frequency:
        raw = FrequencyToRaw(text);
        break;
    case TAlarmQuantity::PowerFactor:
        raw = PowerFactorToRaw(text);
        break;
    case TAlarmQuantity::None:
        return 0;
    }
    const bool fits =
        AlarmTypeIsSigned(type) ? raw >= -32768 && raw <= 32767 : raw >= 0 && raw <= 65535;
    if (!fits)
        RaiseOutOfRange(text);
    return static_cast<int32_t>(raw);
}
