// The journal file as a table, newest first, for the Write Journal window: an index of where
// each entry lies, read incrementally as the file grows, and only the rows on view parsed, so
// a journal of any length opens at once in bounded memory. Filtered by meter; the export reads
// every matching entry from the file, not from what is on view.
#pragma once

#include "commissioning/JournalIndex.h"
#include "commissioning/WriteJournal.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QFile>

#include <functional>
#include <optional>
#include <vector>

class TJournalModel : public QAbstractTableModel {
public:
    enum TColumn : std::uint8_t { cTime, cMeter, cPort, cWhat, cChanges, cOutcome, cCount };

    explicit TJournalModel(QString path, QObject* parent = nullptr);

    // Reads what the file has gained since the last call: all of it the first time, and all
    // again when the file was replaced or cut short.
    void Refresh();

    // The meters the journal names, serial numbers as written ("" for entries that do not know
    // theirs); the filter takes one of them, or nothing for all.
    QStringList Meters() const { return FIndex.MetersInUse(); }
    void SetMeter(const std::optional<QString>& meter);
    // Lines of the file that are not entries, skipped.
    int Broken() const { return FIndex.Broken(); }
    // Why the file cannot be read (not a regular file, no permission); empty when it can.
    const QString& ReadError() const { return FReadError; }

    // The entry on a row, newest first.
    std::optional<TJournalEntry> Entry(int row) const;
    // Every entry that matches the filter, oldest first, read from the file; false with the
    // reason when an entry could not be read back.
    bool ForEachMatching(const std::function<bool(const TJournalEntry&)>& take, QString& error);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    bool Matches(const TJournalIndex::TItem& item) const;
    std::optional<TJournalEntry> Read(const TJournalIndex::TItem& item) const;
    void Restart();
    void Refilter();
    void ReadOn();

    QString FPath;
    mutable QFile FFile;
    qulonglong FInode = 0;
    TJournalIndex FIndex;
    QByteArray FPending; // a last line still without its line feed
    std::optional<std::int32_t> FMeter;
    std::vector<std::uint32_t> FRows; // items on view, oldest first
    mutable QCache<qint64, TJournalEntry> FCache{1024};
    QString FReadError;
};

// The meter column's text for an entry's serial number.
QString JournalMeterText(const std::optional<QString>& serialNumber);
