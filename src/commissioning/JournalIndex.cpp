#include "commissioning/JournalIndex.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

std::optional<TJournalLineInfo> JournalLineInfo(QByteArrayView line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    // The same test an entry's reader makes: an object without a valid time is no entry.
    if (!QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs)
             .isValid())
        return std::nullopt;
    TJournalLineInfo info;
    info.Id = o.value(QLatin1String("id")).toString();
    info.Sent = o.value(QLatin1String("outcome")).toString() == QLatin1String("sent");
    info.Meter = o.value(QLatin1String("serialNumber")).toString();
    return info;
}

qsizetype TJournalIndex::Feed(QByteArrayView bytes) {
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break;
        Line(bytes.sliced(at, end - at), FEnd + at);
        at = end + 1;
    }
    FEnd += at;
    return at;
}

void TJournalIndex::FeedLast(QByteArrayView bytes) {
    const qsizetype rest = bytes.size() - Feed(bytes);
    if (rest > 0) {
        Line(bytes.last(rest), FEnd);
        FEnd += rest;
    }
}

void TJournalIndex::Line(QByteArrayView line, qint64 offset) {
    // A blank line is no damage: the line feed that keeps an append off a cut line ends one.
    if (line.trimmed().isEmpty())
        return;
    const auto info = JournalLineInfo(line);
    if (!info) {
        ++FBroken;
        return;
    }
    const auto length = static_cast<qint32>(line.size());
    if (!info->Id.isEmpty() && !info->Sent) {
        const auto open = FOpen.constFind(info->Id);
        if (open != FOpen.cend()) {
            TItem& item = FItems[*open];
            item.Offset = offset;
            item.Length = length;
            item.Open = false;
            if (!info->Meter.isEmpty()) {
                --FMeterUse[static_cast<std::size_t>(item.Meter)];
                item.Meter = MeterIndex(info->Meter);
                ++FMeterUse[static_cast<std::size_t>(item.Meter)];
            }
            FCompleted.push_back(*open);
            FOpen.erase(open);
            return;
        }
    }
    if (info->Sent && !info->Id.isEmpty())
        FOpen.insert(info->Id, FItems.size());
    FItems.push_back({offset, length, MeterIndex(info->Meter), info->Sent});
    ++FMeterUse[static_cast<std::size_t>(FItems.back().Meter)];
}

QStringList TJournalIndex::MetersInUse() const {
    QStringList meters;
    for (std::size_t k = 0; k < FMeterUse.size(); ++k)
        if (FMeterUse[k] > 0)
            meters << FMeters[static_cast<qsizetype>(k)];
    return meters;
}

std::int32_t TJournalIndex::MeterIndex(const QString& meter) {
    const auto found = FMeterIndex.constFind(meter);
    if (found != FMeterIndex.cend())
        return *found;
    const auto index = static_cast<std::int32_t>(FMeters.size());
    FMeters << meter;
    FMeterIndex.insert(meter, index);
    FMeterUse.push_back(0);
    return index;
}

std::vector<std::size_t> TJournalIndex::TakeCompleted() {
    std::vector<std::size_t> completed;
    completed.swap(FCompleted);
    return completed;
}
