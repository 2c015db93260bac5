// Response times of the meter (end of the request on the line to the last byte of the answer):
// last, minimum and maximum since a reset, median and 95th percentile over the most recent
// answers only, so the figures follow the line as it is now and the memory stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct TTimingFigures {
    std::optional<double> LastMs, MinMs, MedianMs, P95Ms, MaxMs;
};

class TResponseTimes {
public:
    explicit TResponseTimes(std::size_t window = 1000);
    void Add(std::int64_t microseconds);
    void Reset();
    std::size_t Count() const { return FCount; }
    // The percentiles sort a copy of the window: computed only when someone looks.
    TTimingFigures Figures() const;

private:
    std::size_t FWindow;
    std::vector<std::int64_t> FRecent; // ring
    std::size_t FNext = 0;
    std::size_t FCount = 0;
    std::int64_t FLast = 0, FMin = 0, FMax = 0;
};

// Nearest-rank percentile (0 < p <= 100) of unsorted samples; nothing for no samples.
std::optional<std::int64_t> Percentile(std::vector<std::int64_t> samples, double p);
