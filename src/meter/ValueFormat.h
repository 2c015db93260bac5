// Register values to the texts shown on the pages: number formats chosen by
// magnitude, unit texts, and decoders that apply the link's scaling.
#pragma once

#include "meter/Scaling.h"

#include <QString>
#include <cstdint>

// Numbers, written with the decimal separator of QLocale() and never grouped.
QString FormatVoltageNumber(double x);
QString FormatAutoNumber(double x);
QString FormatFixed(double x, int decimals); // decimals 0 to 3
// The decimals the two magnitude-dependent formats choose for x.
int VoltageDecimals(double x);
int AutoDecimals(double x);

// Numbers followed by their unit (the unit text brings its own leading blank).
QString FormatVolts(double x);
QString FormatAmps(double x);
QString FormatKW(double x);
QString FormatKvar(double x);
QString FormatKVA(double x);
QString FormatHz(double x);
QString FormatKWh(double x);
QString FormatKvarh(double x);
QString FormatAnalogOutput(double x, int32_t aoType);

// One register to the text of a label; the scaled values come from the meter model.
QString LoadTypeText(uint16_t raw);
QString IntegerText(uint32_t raw);

// The alarm channels, indices of the page's 19-entry channel list.
enum TAlarmType : int {
    atNone = 0,
    atWattTotal = 13,
    atVarTotal = 14,
    atVaTotal = 15,
    atFrequency = 16,
    atPowerFactor = 17,
    atLastAlarmType = 18,
};

// What an alarm channel measures, which decides the scaling of its setpoint.
enum class TAlarmQuantity { None, Voltage, Current, Power, Frequency, PowerFactor };
TAlarmQuantity AlarmQuantity(int type);

// True for the channels whose setpoint register holds a signed value.
bool AlarmTypeIsSigned(int type);

// An alarm setpoint register as the number in its channel's unit, without the unit;
// empty for channel 0 and for anything outside the list.
QString AlarmValueText(const TScaling& scale, int type, uint16_t raw);
