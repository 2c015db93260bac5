// Operator texts through the parsers: whatever is typed, a value that is accepted must
// survive being written out and read again, and an integer must also read as a number.
#include "ValueParse.h"

#include <QString>
#include <charconv>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool EndsWith(const QString& s, const char* suffix) {
    return s.endsWith(QLatin1String(suffix));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    bool isInteger = false;
    int32_t integer = 0;
    try {
        integer = ParseInteger(text);
        isInteger = true;
        Require(ParseInteger(QString::number(integer)) == integer);
        Require(PlainInteger(QString::number(integer)) == integer);
    } catch (const EConvertError& e) {
        Require(e.Message().startsWith(u'\'') &&
                EndsWith(e.Message(), "' is not a valid integer value"));
    }

    try {
        const double number = ParseNumber(text);
        // The shortest round-trip form, written with the separator of QLocale() (the C
        // locale here), must read back as the very same double.
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number);
        Require(ec == std::errc());
        Require(ParseNumber(QString::fromLatin1(buffer, end - buffer)) == number);
        if (isInteger)
            Require(number == integer);
    } catch (const EConvertError& e) {
        // Every integer text is also a number.
        Require(!isInteger);
        Require(e.Message().startsWith(u'\'') &&
                EndsWith(e.Message(), "' is not a valid floating point value"));
    }
    return 0;
}
