#include "comms/LogModel.h"

namespace {

// The serial of the oldest entry kept (the next one's when the log is empty).
std::uint64_t OldestSerial(const TFrameLog& log) {
    return log.Size() == 0 ? log.NextSerial() : log.At(0).Serial;
}

} // namespace

TLogModel::TLogModel(const TFrameLog& log, QObject* parent)
    : QAbstractListModel(parent), FLog(log) {
    Rebuild();
}

int TLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

const TLogEntry& TLogModel::Entry(int row) const {
    const TFrameLog& log = Shown();
    return log.At(
        static_cast<std::size_t>(FRows[static_cast<std::size_t>(row)] - OldestSerial(log)));
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    return LogLineText(Entry(index.row()));
}

void TLogModel::Rebuild() {
    beginResetModel();
    const TFrameLog& log = Shown();
    FRows.clear();
    for (std::size_t i = 0; i < log.Size(); ++i)
        if (Shows(log.At(i)))
            FRows.push_back(log.At(i).Serial);
    FNextSerial = log.NextSerial();
    endResetModel();
}

void TLogModel::Update() {
    // Nothing new, or frozen: the rows stay as they are and the view repaints nothing.
    if (FFrozen || FLog.NextSerial() == FNextSerial)
        return;
    const std::uint64_t oldest = OldestSerial(FLog);
    // Cleared, or everything shown is gone from the ring: read it again.
    if (FLog.NextSerial() < FNextSerial || oldest > FNextSerial) {
        Rebuild();
        return;
    }
    std::size_t gone = 0;
    while (gone < FRows.size() && FRows[gone] < oldest)
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        FRows.erase(FRows.begin(), FRows.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    std::deque<std::uint64_t> added;
    for (std::uint64_t serial = FNextSerial; serial < FLog.NextSerial(); ++serial)
        if (Shows(FLog.At(static_cast<std::size_t>(serial - oldest))))
            added.push_back(serial);
    FNextSerial = FLog.NextSerial();
    if (added.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    FRows.insert(FRows.end(), added.begin(), added.end());
    endInsertRows();
}

void TLogModel::SetErrorsOnly(bool on) {
    if (FErrorsOnly == on)
        return;
    FErrorsOnly = on;
    Rebuild();
}

void TLogModel::SetFrozen(bool on) {
    if (on == FFrozen.has_value())
        return;
    if (on)
        FFrozen = FLog;
    else
        FFrozen.reset();
    Rebuild();
}
