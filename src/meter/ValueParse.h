// Operator texts to numbers and register values. Every failure raises EConvertError
// with the message the operator sees; nothing is returned half-converted.
#pragma once

#include "meter/ConvertError.h"
#include "meter/Scaling.h"

#include <QString>
#include <cstdint>

// Trim, drop a trailing unit, then convert; the messages quote the text so reduced.
double ParseNumber(const QString& text);
int32_t ParseInteger(const QString& text);

// The whole text as a decimal integer: no trimming, no unit removed.
int32_t PlainInteger(const QString& text);
// As PlainInteger, for the one field that fills a register pair (0 to 4294967295).
// Texts in the 32-bit range of either signedness are integers; a negative one is out
// of range.
uint32_t PlainUnsigned32(const QString& text);

// Raises "'<text>' is out of range", quoting the text trimmed of blanks.
[[noreturn]] void RaiseOutOfRange(const QString& text);

// Scaled encoders: the text's number in register units, halves rounded to even. A
// result that is not finite (a ratio of 0) or beyond 2^53 in magnitude is out of range;
// the register range is checked where the register is known.
int64_t VoltageToRaw(const TScaling& scale, const QString& text);
int64_t CurrentToRaw(const TScaling& scale, const QString& text);
int64_t PowerToRaw(const TScaling& scale, const QString& text);
int64_t PowerFactorToRaw(const QString& text);
int64_t FrequencyToRaw(const QString& text);
int32_t IntegerToRaw(const QString& text);

// Energy counters are 32-bit unsigned pairs in tenths: 0 to 4294967295.
uint32_t EnergyToRaw(const QString& text);

// An alarm setpoint for its channel, ready for the 16-bit register: -32768 to 32767
// for the signed channels (13, 14, 17), 0 to 65535 for the others, and 0 without
// looking at the text for channel 0 and anything outside the list (-1 included).
int32_t AlarmValueToRaw(const TScaling& scale, int type, const QString& text);
