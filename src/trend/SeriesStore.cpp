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

namespace {

// The chart's lines as they are drawn: points go on the current line, a break starts the next.
class TLineBuilder {
public:
    void Break() {
        if (!FLines.back().empty())
            FLines.emplace_back();
    }

    // A span's points: a sample is one, a bucket its minimum and maximum in time order.
    void Add(const TSeriesSpan& s) {
        if (s.MinAt <= s.MaxAt) {
            Point(s.MinAt, s.Min);
            if (s.MaxAt != s.MinAt || s.Max != s.Min)
                Point(s.MaxAt, s.Max);
        } else {
            Point(s.MaxAt, s.Max);
            Point(s.MinAt, s.Min);
        }
    }

    // The lines, without an empty one at the end; nothing at all when nothing was drawn.
    std::vector<std::vector<QPointF>> Take() {
        if (FLines.back().empty() && FLines.size() > 1)
            FLines.pop_back();
        if (FLines.size() == 1 && FLines.front().empty())
            FLines.clear();
        return std::move(FLines);
    }

private:
    void Point(std::int64_t t, double v) { FLines.back().emplace_back(static_cast<qreal>(t), v); }

    std::vector<std::vector<QPointF>> FLines = std::vector<std::vector<QPointF>>(1);
};

// Few enough spans to draw each: lost reads and gaps end the line.
void AddEverySpan(TLineBuilder& lines, const std::vector<TSeriesSpan>& spans) {
    for (const TSeriesSpan& s : spans) {
        if (s.Count == 0) {
            lines.Break();
            continue;
        }
        lines.Add(s);
        if (s.Gap)
            lines.Break();
    }
}

// The pixel column a time falls in.
struct TColumns {
    std::int64_t From;
    double Width; // milliseconds a column covers

    std::int64_t Of(std::int64_t t) const {
        return static_cast<std::int64_t>(std::floor(static_cast<double>(t - From) / Width));
    }
};

// The spans from `i` on that fall in the same column as spans[i], folded into `merged`; returns
// the index after them. `merged` has no samples when the column holds lost reads only.
std::size_t MergeColumn(const std::vector<TSeriesSpan>& spans, std::size_t i,
                        const TColumns& columns, TSeriesSpan& merged) {
    const std::int64_t column = columns.Of(spans[i].First);
    merged = {};
    for (; i < spans.size() && columns.Of(spans[i].First) == column; ++i) {
        const TSeriesSpan& s = spans[i];
        if (s.Count == 0)
            continue;
        if (merged.Count == 0)
            merged = s;
        else
            Merge(merged, s);
    }
    return i;
}

// Too many spans for the width: one minimum and maximum per pixel column. A column whose only
// content is lost reads breaks the line; a loss shorter than a column cannot be seen at this
// scale and is drawn when the view comes closer.
void AddByColumn(TLineBuilder& lines, const std::vector<TSeriesSpan>& spans, std::int64_t from,
                 std::int64_t to, int columns) {
    const TColumns scale{from, static_cast<double>(to - from) / columns};
    std::size_t i = 0;
    while (i < spans.size()) {
        TSeriesSpan merged;
        i = MergeColumn(spans, i, scale, merged);
        if (merged.Count > 0)
            lines.Add(merged);
        else
            lines.Break();
    }
}

} // namespace

std::vector<std::vector<QPointF>> DecimateForChart(const std::vector<TSeriesSpan>& spans,
                                                   std::int64_t from, std::int64_t to,
                                                   int columns) {
    TLineBuilder lines;
    const std::size_t budget = static_cast<std::size_t>(std::max(columns, 1)) * 2;
    if (spans.size() <= budget || to <= from)
        AddEverySpan(lines, spans);
    else
        AddByColumn(lines, spans, from, to, columns);
    return lines.Take();
}
