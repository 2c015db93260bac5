#include "comms/LogModel.h"

TLogModel::TLogModel(const TFrameLog& log, QObject* parent)
    : QAbstractListModel(parent), FLog(log) {
    Rebuild();
}

int TLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FCount);
}

const TLogEntry& TLogModel::Entry(int row) const {
    const auto r = static_cast<std::size_t>(row);
    return Shown().At(FErrorsOnly ? FRows[r] : r);
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
    if (FErrorsOnly) {
        for (std::size_t i = 0; i < log.Size(); ++i)
            if (log.At(i).IsError())
                FRows.push_back(i);
        FCount = FRows.size();
    } else {
        FCount = log.Size();
    }
    FNextSerial = log.NextSerial();
    endResetModel();
}

void TLogModel::Update() {
    // Nothing new, or frozen: the rows stay as they are and the view repaints nothing.
    if (FFrozen || FLog.NextSerial() == FNextSerial)
        return;
    Rebuild();
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
