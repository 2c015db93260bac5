// One quantity over time, in bounded memory: the newest samples as they came, older ones
// folded into buckets that keep each stretch's minimum, maximum, sum and count. A lost answer
// is a gap and stays one; no point is ever made up. Also the decimation of a stretch to at
// most two points per pixel column (its minimum and maximum) for the chart.
#pragma once

#include <QPointF>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// A stretch of the series: a sample (First == Last, Min == Max, Count 1), a folded bucket, or a
// gap (Count 0).
struct TSeriesSpan {
    std::int64_t First = 0; // ms
    std::int64_t Last = 0;
    std::int64_t MinAt = 0;
    std::int64_t MaxAt = 0;
    double Min = 0;
    double Max = 0;
    double Sum = 0;
    std::int64_t Count = 0;
    bool Gap = false; // a gap lies within or is the stretch
};

struct TWindowStats {
    std::int64_t Count = 0;
    double Min = 0;
    double Avg = 0;
    double Max = 0;
};

class TSeries {
public:
    // rawCapacity samples are kept as they came; older ones go into at most bucketCapacity
    // buckets, whose width doubles whenever they would exceed it.
    explicit TSeries(std::size_t rawCapacity = 7200, std::size_t bucketCapacity = 2048,
                     std::int64_t firstBucketMs = 4000);

    void Append(std::int64_t t, double value);
    void AppendGap(std::int64_t t);
    void Clear();

    // Everything held, oldest first: the buckets, then the samples.
    std::vector<TSeriesSpan> Spans(std::int64_t from, std::int64_t to) const;
    std::optional<std::int64_t> FirstTime() const;
    std::optional<std::int64_t> LastTime() const;
    // The value at or just before t, none inside a gap or before the first sample.
    std::optional<double> ValueAt(std::int64_t t) const;
    // Minimum, average and maximum of the values in [from, to]; buckets count when they lie
    // wholly inside. Count 0 when there is none.
    TWindowStats Stats(std::int64_t from, std::int64_t to) const;

    std::size_t RawSize() const { return FRawCount; }
    std::size_t BucketCount() const { return FBuckets.size(); }
    std::int64_t BucketWidth() const { return FBucketWidth; }

private:
    const TSeriesSpan& Raw(std::size_t i) const;
    void Fold(const TSeriesSpan& oldest);
    void HalveBuckets();

    std::size_t FRawCapacity;
    std::size_t FBucketCapacity;
    std::int64_t FBucketWidth;
    std::int64_t FFirstBucketWidth;
    // A ring of the newest samples, allocated once, so memory stays flat on a long run.
    std::vector<TSeriesSpan> FRaw;
    std::size_t FRawHead = 0; // index of the oldest
    std::size_t FRawCount = 0;
    std::vector<TSeriesSpan> FBuckets;
};

// Up to two points per pixel column over [from, to] for `columns` columns: each column's
// minimum and maximum in time order; spans already sparse enough pass unchanged and every gap
// among them ends a line. Decimated, a line ends at a column holding lost reads only: a loss
// narrower than a pixel shows once the view is close enough. Each inner vector is one line.
std::vector<std::vector<QPointF>> DecimateForChart(const std::vector<TSeriesSpan>& spans,
                                                   std::int64_t from, std::int64_t to, int columns);
