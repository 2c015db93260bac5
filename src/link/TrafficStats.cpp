#include "link/TrafficStats.h"

#include "meter/ValueFormat.h"
#include "meter/cstMain.h"

namespace {

constexpr std::size_t ShownBytes = 8;
constexpr char Truncated[] = "...";

QString Shown(std::string_view bytes) {
    QString text = BytesToHex(bytes.substr(0, ShownBytes));
    if (bytes.size() > ShownBytes)
        text += QLatin1String(Truncated);
    return text;
}

} // namespace

QString BytesToHex(std::string_view bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text.append(QLatin1Char(Digits[b >> 4]));
        text.append(QLatin1Char(Digits[b & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

void TTrafficStats::FrameSent(std::string_view frame) {
    if (FSent < UINT64_MAX)
        ++FSent;
    FQuerySent = true;
    FTx = QLatin1String(cstMain::TxdPrefix) + Shown(frame);
    FRx = QLatin1String(cstMain::RxdPrefix);
}

void TTrafficStats::DataReceived(std::string_view data) {
    if (FRx.contains(QLatin1String(Truncated)))
        return;
    FRx += Shown(data);
}

void TTrafficStats::QueryStarted() {
    FQuerySent = false;
    FQueryFailed = false;
    FCountQuery = true;
}

void TTrafficStats::ResponseError() {
    if (FQueryFailed || !FCountQuery)
        return;
    FQueryFailed = true;
    if (FErrors < UINT64_MAX)
        ++FErrors;
    if (!FQuerySent) {
        FQuerySent = true;
        if (FSent < UINT64_MAX)
            ++FSent;
    }
}

void TTrafficStats::QueryAbandoned() {
    if (FQuerySent && !FQueryFailed && FCountQuery && FErrors < UINT64_MAX)
        ++FErrors;
    QueryStarted();
}

std::optional<QString> TTrafficStats::AfterResponse() {
    QueryStarted();
    if (FSent == 0) {
        FErrors = 0;
        return std::nullopt;
    }
    return StatisticsText(FErrors, FSent);
}

void TTrafficStats::Reset() {
    FSent = 0;
    FErrors = 0;
    // A query on its way belongs to the counts before: its outcome is not counted.
    FQuerySent = false;
    FCountQuery = false;
}

void TTrafficStats::ClearTraffic() {
    FTx.clear();
    FRx.clear();
}

QString TTrafficStats::StatisticsText(std::uint64_t errors, std::uint64_t sent) {
    const double percent = sent == 0 ? 0.0 : static_cast<double>(errors) / sent * 100.0;
    return QLatin1String(cstMain::ErrPrefix) + QString::number(errors) + QLatin1Char('/') +
           QString::number(sent) + QStringLiteral("  (") + FormatFixed(percent, 2) +
           QStringLiteral("%)");
}
