// The frame log as a list model: a view asks only for the rows it shows, so decoding costs
// nothing for the frames nobody scrolls to. Follows the live log, or a frozen copy while paused,
// with or without the entries of successful queries.
#pragma once

#include "comms/FrameLog.h"

#include <QAbstractListModel>

#include <cstddef>
#include <optional>
#include <vector>

class TLogModel : public QAbstractListModel {
public:
    explicit TLogModel(const TFrameLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Takes in what the log holds now (nothing changes while frozen).
    void Update();
    // Reads the log again from its start (after it was cleared).
    void Reload() { Rebuild(); }
    void SetErrorsOnly(bool on);
    void SetFrozen(bool on);
    // The log shown: the live one, or the copy taken when it was frozen.
    const TFrameLog& Shown() const { return FFrozen ? *FFrozen : FLog; }
    const TLogEntry& Entry(int row) const;

private:
    void Rebuild();

    const TFrameLog& FLog;
    std::optional<TFrameLog> FFrozen;
    bool FErrorsOnly = false;
    // With errors only: the positions in the log of the rows shown.
    std::vector<std::size_t> FRows;
    std::size_t FCount = 0;
    std::uint64_t FNextSerial = 0;
};
