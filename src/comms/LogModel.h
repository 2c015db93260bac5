// The frame log as a list model: a view asks only for the rows it shows, so decoding costs
// nothing for the frames nobody scrolls to. Follows the live log, or a frozen copy while paused,
// with or without the entries of successful queries. Following costs what changed: rows of new
// frames are inserted at the end and those of frames the ring let go removed at the start; the
// model is reset only when the log was cleared or every row shown is gone.
#pragma once

#include "comms/FrameLog.h"

#include <QAbstractListModel>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

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
    bool Shows(const TLogEntry& entry) const { return !FErrorsOnly || entry.IsError(); }

    const TFrameLog& FLog;
    std::optional<TFrameLog> FFrozen;
    bool FErrorsOnly = false;
    // The serials of the entries shown, oldest first.
    std::deque<std::uint64_t> FRows;
    std::uint64_t FNextSerial = 0;
};
