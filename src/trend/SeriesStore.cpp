#include "trend/SeriesStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

TSeriesSpan Sample(std::int64_t t, double v) {
    return TSeriesSpan{t, t, t, t, v, v, v, 1, false};
}

TSeriesSpan GapAt(std::int64_t t) {
    TSeriesSpan s;
    s.First = s.Last = s.MinAt = s.MaxAt = t;
    s.Gap = true;
    return s;
}

// b folded into a, b being later.
void Merge(TSeriesSpan& a, const TSeriesSpan& b) {
    if (b.Count > 0) {
        if (a.Count == 0 || b.Min < a.Min) {
            a.Min = b.Min;
            a.MinAt = b.MinAt;
        }
        if (a.Count == 0 || b.Max > a.Max) {
            a.Max = b.Max;
            a.MaxAt = b.MaxAt;
        }
        a.Sum += b.Sum;
        a.Count += b.Count;
    }
    a.Gap = a.Gap || b.Gap;
    a.Last = b.Last;
}

} // namespace

TSeries::TSeries(std::size_t rawCapacity, std::size_t bucketCapacity, std::int64_t firstBucketMs)
    : FRawCapacity(std::max<std::size_t>(rawCapacity, 1)),
      FBucketCapacity(std::max<std::size_t>(bucketCapacity, 2)), FBucketWidth(firstBucketMs),
      FFirstBucketWidth(firstBucketMs), FRaw(FRawCapacity) {
    FBuckets.reserve(FBucketCapacity);
}

const TSeriesSpan& TSeries::Raw(std::size_t i) const {
    return FRaw[(FRawHead + i) % FRawCapacity];
}

void TSeries::Append(std::int64_t t, double value) {
    if (std::isnan(value)) {
        AppendGap(t);
        return;
    }
    if (FRawCount == FRawCapacity) {
        Fold(FRaw[FRawHead]);
        FRawHead = (FRawHead + 1) % FRawCapacity;
        --FRawCount;
    }
    FRaw[(FRawHead + FRawCount) % FRawCapacity] = Sample(t, value);
    ++FRawCount;
}

void TSeries::AppendGap(std::int64_t t) {
    // Two gaps in a row are one gap.
    if (FRawCount > 0 && Raw(FRawCount - 1).Gap)
        return;
    if (FRawCount == FRawCapacity) {
        Fold(FRaw[FRawHead]);
        FRawHead = (FRawHead + 1) % FRawCapacity;
        --FRawCount;
    }
    FRaw[(FRawHead + FRawCount) % FRawCapacity] = GapAt(t);
    ++FRawCount;
}

void TSeries::Clear() {
    FRawHead = 0;
    FRawCount = 0;
    FBuckets.clear();
    FBucketWidth = FFirstBucketWidth;
}

void TSeries::Fold(const TSeriesSpan& oldest) {
    if (!FBuckets.empty() && oldest.First < FBuckets.back().First + FBucketWidth) {
        Merge(FBuckets.back(), oldest);
        return;
    }
    if (FBuckets.size() == FBucketCapacity)
        HalveBuckets();
    if (!FBuckets.empty() && oldest.First < FBuckets.back().First + FBucketWidth) {
        Merge(FBuckets.back(), oldest);
        return;
    }
    FBuckets.push_back(oldest);
}

void TSeries::HalveBuckets() {
    std::size_t out = 0;
    for (std::size_t i = 0; i < FBuckets.size(); i += 2) {
        TSeriesSpan merged = FBuckets[i];
        if (i + 1 < FBuckets.size())
            Merge(merged, FBuckets[i + 1]);
        FBuckets[out++] = merged;
    }
    FBuckets.resize(out);
    FBucketWidth *= 2;
}

std::vector<TSeriesSpan> TSeries::Spans(std::int64_t from, std::int64_t to) const {
    std::vector<TSeriesSpan> out;
    for (const TSeriesSpan& b : FBuckets)
        if (b.Last >= from && b.First <= to)
            out.push_back(b);
    for (std::size_t i = 0; i < FRawCount; ++i) {
        const TSeriesSpan& s = Raw(i);
        if (s.Last >= from && s.First <= to)
            out.push_back(s);
    }
    return out;
}

std::optional<std::int64_t> TSeries::FirstTime() const {
    if (!FBuckets.empty())
        return FBuckets.front().First;
    if (FRawCount > 0)
        return Raw(0).First;
    return std::nullopt;
}

std::optional<std::int64_t> TSeries::LastTime() const {
    if (FRawCount > 0)
        return Raw(FRawCount - 1).Last;
    if (!FBuckets.empty())
        return FBuckets.back().Last;
    return std::nullopt;
}

std::optional<double> TSeries::ValueAt(std::int64_t t) const {
    // The newest sample at or before t; samples are in time order.
    for (std::size_t i = FRawCount; i-- > 0;) {
        const TSeriesSpan& s = Raw(i);
        if (s.First <= t)
            return s.Gap ? std::nullopt : std::optional(s.Min);
    }
    for (std::size_t i = FBuckets.size(); i-- > 0;) {
        const TSeriesSpan& b = FBuckets[i];
        if (b.First <= t)
            return b.Count > 0 ? std::optional(b.Sum / static_cast<double>(b.Count)) : std::nullopt;
    }
    return std::nullopt;
}

TWindowStats TSeries::Stats(std::int64_t from, std::int64_t to) const {
    TWindowStats stats;
    double sum = 0;
    for (const TSeriesSpan& s : Spans(from, to)) {
        if (s.Count == 0 || s.First < from || s.Last > to)
            continue;
        if (stats.Count == 0 || s.Min < stats.Min)
            stats.Min = s.Min;
        if (stats.Count == 0 || s.Max > stats.Max)
            stats.Max = s.Max;
        sum += s.Sum;
        stats.Count += s.Count;
    }
    if (stats.Count > 0)
        stats.Avg = sum / static_cast<double>(stats.Count);
    return stats;
}

std::vector<std::vector<QPointF>> DecimateForChart(const std::vector<TSeriesSpan>& spans,
                                                   std::int64_t from, std::int64_t to,
                                                   int columns) {
    std::vector<std::vector<QPointF>> lines(1);
    const auto breakLine = [&lines] {
        if (!lines.back().empty())
            lines.emplace_back();
    };
    const auto point = [&lines](std::int64_t t, double v) {
        lines.back().emplace_back(static_cast<qreal>(t), v);
    };
    // A span's points: a sample is one, a bucket its minimum and maximum in time order.
    const auto emitSpan = [&](const TSeriesSpan& s) {
        if (s.MinAt <= s.MaxAt) {
            point(s.MinAt, s.Min);
            if (s.MaxAt != s.MinAt || s.Max != s.Min)
                point(s.MaxAt, s.Max);
        } else {
            point(s.MaxAt, s.Max);
            point(s.MinAt, s.Min);
        }
    };
    const std::size_t budget = static_cast<std::size_t>(std::max(columns, 1)) * 2;
    if (spans.size() <= budget || to <= from) {
        for (const TSeriesSpan& s : spans) {
            if (s.Count == 0) {
                breakLine();
                continue;
            }
            emitSpan(s);
            if (s.Gap)
                breakLine();
        }
    } else {
        const double width = static_cast<double>(to - from) / columns;
        std::size_t i = 0;
        while (i < spans.size()) {
            const auto column = static_cast<std::int64_t>(
                std::floor(static_cast<double>(spans[i].First - from) / width));
            // A column whose only content is lost reads breaks the line; a loss shorter than a
            // column cannot be seen at this scale and is drawn when the view comes closer.
            TSeriesSpan acc;
            bool gap = false;
            for (; i < spans.size(); ++i) {
                const TSeriesSpan& s = spans[i];
                if (static_cast<std::int64_t>(
                        std::floor(static_cast<double>(s.First - from) / width)) != column)
                    break;
                gap = gap || s.Gap || s.Count == 0;
                if (s.Count == 0)
                    continue;
                if (acc.Count == 0)
                    acc = s;
                else
                    Merge(acc, s);
            }
            if (acc.Count > 0)
                emitSpan(acc);
            else if (gap)
                breakLine();
        }
    }
    if (lines.back().empty() && lines.size() > 1)
        lines.pop_back();
    if (lines.size() == 1 && lines.front().empty())
        lines.clear();
    return lines;
}
