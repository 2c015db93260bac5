#include "meter/NumberText.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <string_view>

namespace {

bool IsTrimmed(QChar c) {
    const char16_t u = c.unicode();
    return u <= 0x20 || (u >= 0x7F && u <= 0x9F) || c.isSpace();
}

bool IsDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// strtod depends on LC_NUMERIC, which a Qt application takes from the environment;
// the validated text is rewritten with '.' and converted in the C locale.
locale_t CLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

} // namespace

QString TrimText(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString StripTrailingNonDigits(QStringView text) {
    qsizetype end = text.size();
    while (end > 0 && !IsDigit(text[end - 1]))
        --end;
    return text.first(end).toString();
}

std::optional<int64_t> DecimalInteger(QStringView text, int64_t min, int64_t max) {
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    if (negative)
        ++i;
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        const int digit = text[i].unicode() - u'0';
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<int64_t>::min())
            return std::nullopt;
        value = -value;
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> DecimalNumber(QStringView text, QStringView decimalSeparator) {
    std::string ascii;
    ascii.reserve(static_cast<size_t>(text.size()) + 1);
    qsizetype i = 0;
    const auto digits = [&] {
        qsizetype count = 0;
        while (i < text.size() && IsDigit(text[i])) {
            ascii.push_back(static_cast<char>(text[i].unicode()));
            ++i;
            ++count;
        }
        return count;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ascii.push_back(static_cast<char>(text[i++].unicode()));
    qsizetype mantissaDigits = digits();
    if (!decimalSeparator.isEmpty() && text.sliced(i).startsWith(decimalSeparator)) {
        i += decimalSeparator.size();
        ascii.push_back('.');
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ascii.push_back(static_cast<char>(text[i++].unicode()));
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;

    errno = 0;
    char* end = nullptr;
    const double value = strtod_l(ascii.c_str(), &end, CLocale());
    if (end != ascii.c_str() + ascii.size())
        return std::nullopt;
    // Underflow to zero or a subnormal is still the number typed; overflow is not.
    if (errno == ERANGE && std::isinf(value))
        return std::nullopt;
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

QString FixedText(double x, int decimals, QStringView decimalSeparator) {
    // to_chars ignores LC_NUMERIC, unlike printf, which a Qt application has set from
    // the environment; the separator shown is always the one passed in.
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return {};
    const std::string_view digits(buffer, static_cast<size_t>(end - buffer));
    const size_t point = digits.find('.');
    if (point == std::string_view::npos)
        return QString::fromLatin1(digits.data(), static_cast<qsizetype>(digits.size()));
    QString result = QString::fromLatin1(digits.data(), static_cast<qsizetype>(point));
    result += decimalSeparator;
    result += QLatin1StringView(digits.data() + point + 1,
                                static_cast<qsizetype>(digits.size() - point - 1));
    return result;
}
