// Where the entries of a journal file lie, read line by line as the file grows: an entry "sent"
// and the entry of its outcome become one entry (the outcome's line, in the place of the "sent"
// one), lines that are not entries are skipped and counted, and each entry keeps the meter it
// names, so a window can list a long journal without holding its entries.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// What the index needs of one line; nothing for a line that is not an entry.
struct TJournalLineInfo {
    QString Id;
    bool Sent = false;
    QString Meter; // the serial number; empty when the entry does not know it
};
std::optional<TJournalLineInfo> JournalLineInfo(QByteArrayView line);

class TJournalIndex {
public:
    struct TItem {
        qint64 Offset = 0; // of the line that stands for the entry
        qint32 Length = 0; // without the line feed
        std::int32_t Meter = 0;
        bool Open = false; // "sent", its outcome not read yet
    };

    // Reads the complete lines of `bytes`, which continue the file at End(); a last line
    // without its line feed is left for the next call. Returns the bytes consumed.
    qsizetype Feed(QByteArrayView bytes);
    // Reads `bytes` as the last line of the file, line feed or not (a whole file's end).
    void FeedLast(QByteArrayView bytes);

    // The entries, oldest first.
    const std::vector<TItem>& Items() const { return FItems; }
    // The meters the entries have named, in the order first seen; "" for an unknown serial
    // number. An item's Meter is an index into it.
    const QStringList& Meters() const { return FMeters; }
    // Those the entries name now (a "sent" entry's unknown serial number is gone once its
    // outcome names the meter).
    QStringList MetersInUse() const;
    // The entries whose line changed since the last call (an outcome that completed them).
    std::vector<std::size_t> TakeCompleted();
    // Lines that were not entries.
    int Broken() const { return FBroken; }
    // The file offset up to which lines were read.
    qint64 End() const { return FEnd; }

private:
    void Line(QByteArrayView line, qint64 offset);
    std::int32_t MeterIndex(const QString& meter);

    std::vector<TItem> FItems;
    QStringList FMeters;
    QHash<QString, std::int32_t> FMeterIndex;
    std::vector<int> FMeterUse;        // entries per meter
    QHash<QString, std::size_t> FOpen; // id -> item of a "sent" entry
    std::vector<std::size_t> FCompleted;
    int FBroken = 0;
    qint64 FEnd = 0;
};
