#include "bus/BusStats.h"

#include <algorithm>

void TResponseRing::Add(std::int64_t ms) {
    FTimes[FNext] = ms;
    FNext = (FNext + 1) % Capacity;
    FCount = std::min(FCount + 1, Capacity);
}

std::optional<std::int64_t> TResponseRing::Percentile(int p) const {
    if (FCount == 0) {
        return std::nullopt;
    }
    std::array<std::int64_t, Capacity> sorted = FTimes;
    const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(FCount);
    std::sort(sorted.begin(), end);
    // Nearest rank: the smallest value with at least p % of the values at or below it.
    const std::size_t rank = (static_cast<std::size_t>(p) * FCount + 99) / 100;
    return sorted[std::clamp<std::size_t>(rank, 1, FCount) - 1];
}

void TBusMeterStats::Count(TBusOutcome outcome, std::int64_t responseMs, std::int64_t now) {
    switch (outcome) {
    case TBusOutcome::Answered:
        ++Answered;
        ResponseTimes.Add(responseMs);
        LastValuesAt = now;
        break;
    case TBusOutcome::TimedOut:
        ++TimedOut;
        break;
    case TBusOutcome::BadFrame:
        ++BadFrames;
        break;
    case TBusOutcome::Exception:
        ++Exceptions;
        break;
    }
}

std::optional<std::int64_t> TBusMeterStats::ValuesAgeMs(std::int64_t now) const {
    if (!LastValuesAt) {
        return std::nullopt;
    }
    return now - *LastValuesAt;
}

std::optional<std::int64_t> TBusMeterStats::AchievedIntervalMs() const {
    if (!FirstStart || StartsSinceFirst < 2) {
        return std::nullopt;
    }
    return (LastStart - *FirstStart) / (StartsSinceFirst - 1);
}

void TBusMeterStats::NoteStart(std::int64_t now) {
    ++Queries;
    if (!FirstStart) {
        FirstStart = now;
        StartsSinceFirst = 0;
    }
    LastStart = now;
    ++StartsSinceFirst;
}
