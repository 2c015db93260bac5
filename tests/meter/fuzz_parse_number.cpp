// Operator texts through the parsers: whatever is typed, a value that is accepted must
// survive being written out and read again, and an integer must also read as a number.
#include "meter/ValueParse.h"

#include <QString>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool EndsWith(const QString& s, const char* suffix) {
    return s.endsWith(QLatin1String(suffix));
}

} // namespace

template <typename F> auto Attempt(F f, const char* messageEnd) -> std::optional<decltype(f())> {
    try {
        return f();
    } catch (const EConvertError& e) {
        Require(e.Message().startsWith(u'\'') && EndsWith(e.Message(), messageEnd));
        return std::nullopt;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const char* notInteger = "' is not a valid integer value";
    const char* notNumber = "' is not a valid floating point value";

    // Conversions of a value's own text must not raise: Attempt aborts on a wrong
    // message, and value() throws if a conversion failed.
    const auto integer = Attempt([&] { return ParseInteger(text); }, notInteger);
    if (integer) {
        const QString written = QString::number(*integer);
        Require(Attempt([&] { return ParseInteger(written); }, notInteger).value() == *integer);
        Require(Attempt([&] { return PlainInteger(written); }, notInteger).value() == *integer);
    }

    const auto number = Attempt([&] { return ParseNumber(text); }, notNumber);
    // Every integer text is also a number, of the same value.
    Require(!integer || (number && *number == *integer));
    if (number) {
        // The shortest round-trip form, with the separator of QLocale() (the C locale
        // here), must read back as the very same double.
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *number);
        Require(ec == std::errc());
        const QString written = QString::fromLatin1(buffer, end - buffer);
        Require(Attempt([&] { return ParseNumber(written); }, notNumber).value() == *number);
    }
    return 0;
}
