// Lexical rules for numbers typed by the operator and numbers shown on the pages:
// trimming, the decimal grammars and fixed-point output with the locale's separator.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// Removes blanks and control characters from both ends.
QString TrimText(QStringView text);

// Drops trailing characters that are not ASCII digits, so a unit typed after a
// number ("230 V", "5.5kW", "100 %") falls away while the number's inside stays.
QString StripTrailingNonDigits(QStringView text);

// An optional minus and ASCII digits, nothing else, with a value in [min, max].
std::optional<int64_t> DecimalInteger(QStringView text, int64_t min, int64_t max);

// An optional sign, digits, the decimal separator, digits and an optional exponent
// (at least one digit in the mantissa). Words such as "inf" or "nan" are not numbers,
// and a magnitude beyond the range of a double is not one either.
std::optional<double> DecimalNumber(QStringView text, QStringView decimalSeparator);

// printf-style "%.<decimals>f" with the given decimal separator and no grouping;
// the minus sign is always the ASCII one.
QString FixedText(double x, int decimals, QStringView decimalSeparator);
