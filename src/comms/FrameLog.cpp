#include "comms/FrameLog.h"

#include "comms/FrameDecode.h"
#include "link/TrafficStats.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

bool TLogEntry::IsError() const {
    return Direction == Rx && Outcome != TFrameOutcome::Answered &&
           Outcome != TFrameOutcome::Broadcast;
}

TFrameLog::TFrameLog(std::size_t capacity) : FEntries(std::max<std::size_t>(capacity, 1)) {}

void TFrameLog::Add(TLogEntry entry) {
    entry.Serial = FNextSerial++;
    FEntries[FHead] = std::move(entry);
    FHead = (FHead + 1) % FEntries.size();
    FSize = std::min(FSize + 1, FEntries.size());
}

void TFrameLog::Clear() {
    for (TLogEntry& e : FEntries)
        e = TLogEntry{};
    FHead = 0;
    FSize = 0;
}

const TLogEntry& TFrameLog::At(std::size_t index) const {
    const std::size_t oldest = (FHead + FEntries.size() - FSize) % FEntries.size();
    return FEntries[(oldest + index) % FEntries.size()];
}

namespace {

QString TimeText(std::int64_t wallMs, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(wallMs, zone).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString DirectionText(const TLogEntry& e) {
    return e.Direction == TLogEntry::Tx ? QStringLiteral("TX") : QStringLiteral("RX");
}

QString Quoted(QString field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')))
        return field;
    return QLatin1Char('"') + field.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

} // namespace

QString LogEntryDecoded(const TLogEntry& entry) {
    if (entry.Direction == TLogEntry::Tx)
        return DescribeRequest(entry.Bytes);
    QString text = DescribeAnswer(entry.Bytes, entry.Request);
    if (entry.Outcome == TFrameOutcome::Mismatch)
        text += QStringLiteral(", does not match the request");
    return text;
}

QString LogLineText(const TLogEntry& entry, const QTimeZone& zone) {
    // The decoded text first: the bytes of a long answer run past the window's edge.
    QString line = TimeText(entry.WallMs, zone) + QStringLiteral("  ") + DirectionText(entry) +
                   QStringLiteral("  ") + LogEntryDecoded(entry);
    if (!entry.Bytes.empty())
        line += QStringLiteral("  ") + BytesToHex(entry.Bytes).trimmed();
    return line;
}

QString LogCsvHeader() {
    return QStringLiteral("time,direction,bytes,decoded");
}

QString LogLineCsv(const TLogEntry& entry, const QTimeZone& zone) {
    return TimeText(entry.WallMs, zone) + QLatin1Char(',') + DirectionText(entry) +
           QLatin1Char(',') + BytesToHex(entry.Bytes).trimmed() + QLatin1Char(',') +
           Quoted(LogEntryDecoded(entry));
}
