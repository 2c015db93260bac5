#include "meter/ValueFormat.h"

#include "meter/NumberText.h"

#include <QLocale>
#include <cmath>

namespace {

QString Fixed(double x, int decimals) {
    return FixedText(x, decimals, QLocale().decimalPoint());
}

double Signed(uint16_t raw) {
    return static_cast<int16_t>(raw);
}

} // namespace

int VoltageDecimals(double x) {
    return std::fabs(x) >= 1000 ? 0 : 1;
}

int AutoDecimals(double x) {
    // The bounds belong to the coarser format: 9.9999 is written 10.000, 10.0 as 10.00.
    const double magnitude = std::fabs(x);
    if (magnitude < 10)
        return 3;
    if (magnitude < 100)
        return 2;
    if (magnitude < 1000)
        return 1;
    return 0;
}

QString FormatVoltageNumber(double x) {
    return Fixed(x, VoltageDecimals(x));
}

QString FormatAutoNumber(double x) {
    return Fixed(x, AutoDecimals(x));
}

QString FormatFixed(double x, int decimals) {
    return Fixed(x, decimals);
}

QString FormatVolts(double x) {
    return FormatVoltageNumber(x) + QStringLiteral(" V");
}
QString FormatAmps(double x) {
    return FormatAutoNumber(x) + QStringLiteral(" A");
}
QString FormatKW(double x) {
    return FormatAutoNumber(x) + QStringLiteral(" kW");
}
QString FormatKvar(double x) {
    return FormatAutoNumber(x) + QStringLiteral(" kvar");
}
QString FormatKVA(double x) {
    return FormatAutoNumber(x) + QStringLiteral(" kVA");
}
QString FormatHz(double x) {
    return FormatFixed(x, 2) + QStringLiteral(" Hz");
}
QString FormatKWh(double x) {
    return FormatFixed(x, 1) + QStringLiteral(" kWh");
}
QString FormatKvarh(double x) {
    return FormatFixed(x, 1) + QStringLiteral(" kvarh");
}

QString FormatAnalogOutput(double x, int32_t aoType) {
    return FormatFixed(x, 3) + (aoType == 2 ? QStringLiteral(" V") : QStringLiteral(" mA"));
}

QString LoadTypeText(uint16_t raw) {
    return QString(QChar(static_cast<char16_t>(raw & 0xFF)));
}

QString IntegerText(uint32_t raw) {
    return QString::number(raw);
}

TAlarmQuantity AlarmQuantity(int type) {
    if ((type >= 1 && type <= 6) || type == 10 || type == 11)
        return TAlarmQuantity::Voltage;
    if ((type >= 7 && type <= 9) || type == 12 || type == atLastAlarmType)
        return TAlarmQuantity::Current;
    switch (type) {
    case atWattTotal:
    case atVarTotal:
    case atVaTotal:
        return TAlarmQuantity::Power;
    case atFrequency:
        return TAlarmQuantity::Frequency;
    case atPowerFactor:
        return TAlarmQuantity::PowerFactor;
    default:
        return TAlarmQuantity::None;
    }
}

bool AlarmTypeIsSigned(int type) {
    return type == atWattTotal || type == atVarTotal || type == atPowerFactor;
}

QString AlarmValueText(const TScaling& scale, int type, uint16_t raw) {
    // Signed channels read the register as two's complement.
    const double value = AlarmTypeIsSigned(type) ? Signed(raw) : raw;
    switch (AlarmQuantity(type)) {
    case TAlarmQuantity::Voltage:
        return FormatVoltageNumber(value * scale.PTRatio / 10);
    case TAlarmQuantity::Current:
        return FormatAutoNumber(value * scale.CTRatio / 1000);
    case TAlarmQuantity::Power:
        return FormatAutoNumber(value * scale.PTRatio * scale.CTRatio / 1000);
    case TAlarmQuantity::Frequency:
        return FormatFixed(value / 100, 2);
    case TAlarmQuantity::PowerFactor:
        return FormatFixed(value / 1000, 3);
    case TAlarmQuantity::None:
        break;
    }
    return {};
}
