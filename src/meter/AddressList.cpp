#include "meter/AddressList.h"

#include "meter/MeterEvents.h"

#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace {

const QString RangeText = QStringLiteral("%1 to %2").arg(MinMeterAddress).arg(MaxMeterAddress);

// One entry, "7" or "7-9", into its first and last address.
bool ParseEntry(const QString& entry, int& first, int& last, QString& error) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,6})(?:\\s*-\\s*(\\d{1,6}))?$"));
    const QRegularExpressionMatch m = form.match(entry);
    if (!m.hasMatch()) {
        error = QStringLiteral("'%1' is neither an address nor a range such as 7-9.").arg(entry);
        return false;
    }
    first = m.captured(1).toInt();
    last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
    for (const int address : {first, last}) {
        if (!IsMeterAddress(address)) {
            error = QStringLiteral("'%1': %2 is not a meter address; meters take addresses %3.")
                        .arg(entry)
                        .arg(address)
                        .arg(RangeText);
            return false;
        }
    }
    if (last < first) {
        error =
            QStringLiteral("'%1' runs backwards: write it %2-%3.").arg(entry).arg(last).arg(first);
        return false;
    }
    return true;
}

} // namespace

std::optional<std::vector<int>> ParseAddressList(const QString& text, QString& error) {
    if (text.trimmed().isEmpty()) {
        error = QStringLiteral("No address given: type addresses such as 1,3,7-9.");
        return std::nullopt;
    }
    std::vector<int> addresses;
    std::set<int> seen;
    for (const QString& raw : text.split(',')) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) {
            error =
                QStringLiteral("The list has an empty entry: separate addresses with one comma.");
            return std::nullopt;
        }
        int first = 0;
        int last = 0;
        if (!ParseEntry(entry, first, last, error)) {
            return std::nullopt;
        }
        for (int address = first; address <= last; ++address) {
            if (!seen.insert(address).second) {
                error = QStringLiteral("'%1': address %2 is already in the list.")
                            .arg(entry)
                            .arg(address);
                return std::nullopt;
            }
            addresses.push_back(address);
        }
    }
    return addresses;
}

QString FormatAddressList(std::vector<int> addresses) {
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    QStringList parts;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t end = i;
        while (end + 1 < addresses.size() && addresses[end + 1] == addresses[end] + 1) {
            ++end;
        }
        parts << (end == i ? QString::number(addresses[i])
                           : QStringLiteral("%1-%2").arg(addresses[i]).arg(addresses[end]));
        i = end + 1;
    }
    return parts.join(',');
}
