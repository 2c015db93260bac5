// What one meter on a shared line has cost and brought: counts per outcome and the spread of its
// response times over its latest answers, in bounded memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// How one query to a meter ended, as the master saw it.
enum class TBusOutcome : std::uint8_t { Answered, TimedOut, BadFrame, Exception };

// The response times of the latest answers, oldest overwritten first.
class TResponseRing {
public:
    static constexpr std::size_t Capacity = 64;

    void Add(std::int64_t ms);
    std::size_t Size() const { return FCount; }
    // Nearest-rank percentile (0 < p <= 100) of the times held; nothing before the first answer.
    std::optional<std::int64_t> Percentile(int p) const;

private:
    std::array<std::int64_t, Capacity> FTimes{};
    std::size_t FNext = 0;
    std::size_t FCount = 0;
};

struct TBusMeterStats {
    std::int64_t Queries = 0;
    std::int64_t Answered = 0;
    std::int64_t TimedOut = 0;
    std::int64_t BadFrames = 0;
    std::int64_t Exceptions = 0;
    TResponseRing ResponseTimes;
    // When the last valid answer came: the values shown are this old.
    std::optional<std::int64_t> LastValuesAt;
    // Start of the first and the latest query since the meter was (re)joined to the schedule,
    // and how many queries started in between: the cadence it achieved.
    std::optional<std::int64_t> FirstStart;
    std::int64_t LastStart = 0;
    std::int64_t StartsSinceFirst = 0;

    void Count(TBusOutcome outcome, std::int64_t responseMs, std::int64_t now);
    std::optional<std::int64_t> MedianMs() const { return ResponseTimes.Percentile(50); }
    std::optional<std::int64_t> P95Ms() const { return ResponseTimes.Percentile(95); }
    std::optional<std::int64_t> ValuesAgeMs(std::int64_t now) const;
    // The mean time between its query starts; nothing before its second query.
    std::optional<std::int64_t> AchievedIntervalMs() const;
    void NoteStart(std::int64_t now);
    void RestartCadence() { FirstStart.reset(); }
    // The cadence counted afresh from a query that started at `start`.
    void RestartCadenceAt(std::int64_t start) {
        FirstStart = start;
        LastStart = start;
        StartsSinceFirst = 1;
    }
};

// The line as a whole: the time in which every meter being read was read once, as asked and as
// achieved (the slowest meter's), and the share of the time a query was in flight.
struct TBusLineStats {
    std::int64_t Queries = 0;
    std::int64_t AskedCycleMs = 0;
    std::optional<std::int64_t> AchievedCycleMs;
    double BusyShare = 0; // 0..1
};
