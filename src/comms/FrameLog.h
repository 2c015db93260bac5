// The frame log: the most recent frames each way with their time, kept as raw bytes in a ring
// of fixed size, so recording costs a copy and memory stays bounded however long the line runs.
// The decoded texts are built only for the lines someone looks at or saves.
#pragma once

#include "comms/CommCounters.h"

#include <QString>
#include <QTimeZone>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TLogEntry {
    enum TDirection : std::uint8_t { Tx, Rx };
    std::uint64_t Serial = 0; // counts every entry ever added, so a viewer can follow the ring
    std::int64_t WallMs = 0;  // milliseconds since the epoch
    TDirection Direction = Tx;
    std::string Bytes;
    // Rx: the request it answers (without CRC) and how the query ended.
    std::string Request;
    TFrameOutcome Outcome = TFrameOutcome::Answered;

    // The entry is part of a failed query: what "errors only" shows.
    bool IsError() const;
};

class TFrameLog {
public:
    static constexpr std::size_t DefaultCapacity = 2000;
    explicit TFrameLog(std::size_t capacity = DefaultCapacity);

    void Add(TLogEntry entry);
    void Clear();
    std::size_t Size() const { return FSize; }
    std::size_t Capacity() const { return FEntries.size(); }
    // 0 is the oldest entry kept.
    const TLogEntry& At(std::size_t index) const;
    // The serial the next entry will get.
    std::uint64_t NextSerial() const { return FNextSerial; }

private:
    std::vector<TLogEntry> FEntries;
    std::size_t FHead = 0; // where the next entry goes
    std::size_t FSize = 0;
    std::uint64_t FNextSerial = 1;
};

// "13:45:12.345  TX  addr 1, fn 03 read registers, ..., CRC good  01 03 14 00 00 15 81 F5"
QString LogLineText(const TLogEntry& entry, const QTimeZone& zone = QTimeZone::systemTimeZone());
// The decoded part alone.
QString LogEntryDecoded(const TLogEntry& entry);
// One CSV record (time, direction, bytes, decoded), quoted where needed, without line end.
QString LogLineCsv(const TLogEntry& entry, const QTimeZone& zone = QTimeZone::systemTimeZone());
QString LogCsvHeader();
