#include "comms/ResponseTimes.h"

#include <algorithm>
#include <cmath>

TResponseTimes::TResponseTimes(std::size_t window) : FWindow(std::max<std::size_t>(window, 1)) {
    FRecent.reserve(FWindow);
}

void TResponseTimes::Add(std::int64_t microseconds) {
    if (FCount == 0 || microseconds < FMin)
        FMin = microseconds;
    if (FCount == 0 || microseconds > FMax)
        FMax = microseconds;
    FLast = microseconds;
    ++FCount;
    if (FRecent.size() < FWindow) {
        FRecent.push_back(microseconds);
    } else {
        FRecent[FNext] = microseconds;
        FNext = (FNext + 1) % FWindow;
    }
}

void TResponseTimes::Reset() {
    FRecent.clear();
    FNext = 0;
    FCount = 0;
    FLast = FMin = FMax = 0;
}

std::optional<std::int64_t> Percentile(std::vector<std::int64_t> samples, double p) {
    if (samples.empty())
        return std::nullopt;
    const auto n = samples.size();
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(n)));
    rank = std::clamp<std::size_t>(rank, 1, n);
    auto nth = samples.begin() + static_cast<std::ptrdiff_t>(rank - 1);
    std::nth_element(samples.begin(), nth, samples.end());
    return *nth;
}

TTimingFigures TResponseTimes::Figures() const {
    TTimingFigures f;
    if (FCount == 0)
        return f;
    const auto ms = [](std::int64_t us) { return static_cast<double>(us) / 1000.0; };
    f.LastMs = ms(FLast);
    f.MinMs = ms(FMin);
    f.MaxMs = ms(FMax);
    f.MedianMs = ms(*Percentile(FRecent, 50));
    f.P95Ms = ms(*Percentile(FRecent, 95));
    return f;
}
