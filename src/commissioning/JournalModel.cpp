#include "commissioning/JournalModel.h"

#include "commissioning/JournalFile.h"

#include <sys/stat.h>

namespace {

const QString UnknownMeter = QStringLiteral("(serial number not known)");
// Read in slices: a long journal never sits in memory whole.
constexpr qint64 Slice = 1 << 20;

qulonglong InodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QString ChangesText(const TJournalEntry& e, const QString& separator) {
    if (e.Write.Changes.empty())
        return e.Write.Kind == QLatin1String("settings") ? QStringLiteral("(no setting changed)")
                                                         : QString();
    QStringList changes;
    for (const TWriteChange& c : e.Write.Changes)
        changes << ChangeText(c);
    return changes.join(separator);
}

} // namespace

QString JournalMeterText(const std::optional<QString>& serialNumber) {
    return serialNumber && !serialNumber->isEmpty() ? *serialNumber : UnknownMeter;
}

TJournalModel::TJournalModel(QString path, QObject* parent)
    : QAbstractTableModel(parent), FPath(std::move(path)) {}

void TJournalModel::Restart() {
    beginResetModel();
    FFile.close();
    FIndex = TJournalIndex();
    FPending.clear();
    FRows.clear();
    FCache.clear();
    FInode = 0;
    endResetModel();
}

void TJournalModel::Refresh() {
    const qulonglong inode = InodeOf(FPath);
    const bool replaced = FFile.isOpen() && (inode != FInode || FFile.size() < FIndex.End());
    if (replaced)
        Restart();
    if (!FFile.isOpen()) {
        if (!OpenJournalForReading(FPath, FFile, FReadError))
            return;
        FInode = inode;
    }
    FReadError.clear();
    ReadOn();
}

void TJournalModel::ReadOn() {
    const std::size_t known = FIndex.Items().size();
    qint64 at = FIndex.End() + FPending.size();
    while (FFile.seek(at)) {
        const QByteArray slice = FFile.read(Slice);
        if (slice.isEmpty())
            break;
        at += slice.size();
        FPending += slice;
        FPending.remove(0, FIndex.Feed(FPending));
    }
    const std::vector<std::size_t> completed = FIndex.TakeCompleted();
    if (!completed.empty()) {
        // An outcome completed an entry: its row reads another line, maybe of another meter.
        FCache.clear();
        if (FMeter) {
            Refilter();
            return;
        }
        emit dataChanged(index(0, 0), index(rowCount() - 1, cCount - 1));
    }
    std::vector<std::uint32_t> added;
    for (std::size_t k = known; k < FIndex.Items().size(); ++k)
        if (Matches(FIndex.Items()[k]))
            added.push_back(static_cast<std::uint32_t>(k));
    if (added.empty())
        return;
    // Newest first: what the file gained goes on top.
    beginInsertRows(QModelIndex(), 0, static_cast<int>(added.size()) - 1);
    FRows.insert(FRows.end(), added.begin(), added.end());
    endInsertRows();
}

void TJournalModel::SetMeter(const std::optional<QString>& meter) {
    FMeter.reset();
    // A meter the journal does not name shows nothing rather than everything.
    if (meter)
        FMeter = static_cast<std::int32_t>(FIndex.Meters().indexOf(*meter));
    Refilter();
}

void TJournalModel::Refilter() {
    beginResetModel();
    FRows.clear();
    for (std::size_t k = 0; k < FIndex.Items().size(); ++k)
        if (Matches(FIndex.Items()[k]))
            FRows.push_back(static_cast<std::uint32_t>(k));
    endResetModel();
}

bool TJournalModel::Matches(const TJournalIndex::TItem& item) const {
    return !FMeter || item.Meter == *FMeter;
}

std::optional<TJournalEntry> TJournalModel::Read(const TJournalIndex::TItem& item) const {
    if (const TJournalEntry* cached = FCache.object(item.Offset))
        return *cached;
    if (!FFile.seek(item.Offset))
        return std::nullopt;
    auto entry = ParseJournalLine(FFile.read(item.Length));
    if (entry)
        FCache.insert(item.Offset, new TJournalEntry(*entry));
    return entry;
}

std::optional<TJournalEntry> TJournalModel::Entry(int row) const {
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    return Read(FIndex.Items()[FRows[FRows.size() - 1 - static_cast<std::size_t>(row)]]);
}

bool TJournalModel::ForEachMatching(const std::function<bool(const TJournalEntry&)>& take,
                                    QString& error) {
    Refresh();
    if (!FFile.isOpen()) {
        error =
            FReadError.isEmpty()
                ? QStringLiteral("The write journal %1 does not exist yet.").arg(FPath)
                : QStringLiteral("The write journal %1 cannot be read: %2").arg(FPath, FReadError);
        return false;
    }
    for (const TJournalIndex::TItem& item : FIndex.Items()) {
        if (!Matches(item))
            continue;
        const auto entry = Read(item);
        if (!entry) {
            error = QStringLiteral("The write journal %1 changed while it was read.").arg(FPath);
            return false;
        }
        if (!take(*entry))
            return false;
    }
    return true;
}

int TJournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TJournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cCount;
}

QVariant TJournalModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const auto e = Entry(index.row());
    if (!e)
        return {};
    switch (index.column()) {
    case cTime:
        return DisplayTime(e->Time);
    case cMeter:
        return JournalMeterText(e->SerialNumber);
    case cPort:
        return QStringLiteral("%1, %2").arg(e->Port).arg(e->Address);
    case cWhat:
        return e->Write.What;
    case cChanges:
        return ChangesText(*e,
                           role == Qt::ToolTipRole ? QStringLiteral("\n") : QStringLiteral("; "));
    case cOutcome:
        return OutcomeShown(*e);
    default:
        return {};
    }
}

QVariant TJournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const Titles[cCount] = {"Time", "Meter",   "Port, address",
                                               "What", "Changes", "Outcome"};
    return section >= 0 && section < cCount ? QString::fromLatin1(Titles[section]) : QVariant();
}
