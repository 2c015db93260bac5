// The measurement block in physical units (the transformer ratios applied), and the last
// seconds of them kept for a snapshot: averages, minimum and maximum per quantity.
#pragma once

#include "meter/MeterReading.h"
#include "meter/Scaling.h"

#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <span>

// The numeric quantities of the measurement block, in register order without the load type
// and the two analog outputs.
enum TQuantity : int {
    qVa,
    qVb,
    qVc,
    qVab,
    qVbc,
    qVca,
    qIa,
    qIb,
    qIc,
    qVlnAvg,
    qVllAvg,
    qIAvg,
    qP,
    qQ,
    qS,
    qF,
    qPF,
    qIn,
    QuantityCount
};

struct TQuantityInfo {
    const char* Name; // the caption of the metering page
    const char* Unit; // empty for the power factor
    int Decimals;     // as a report shows it
};
const TQuantityInfo& QuantityInfo(int quantity);

struct TMeasurement {
    std::array<double, QuantityCount> Values{};
    char LoadType = 0; // 'L', 'C' or 'R' as the meter gives it
};

// The quantities of a measurement reading as the meter model scaled them. False when the block
// is shorter than the 21 registers of the meter, or its values are scaled by ratios the meter
// model has not read: a report never states a value computed with ratios nobody read.
bool MeasurementFrom(const TMeterReading& reading, TMeasurement& out);

// What one register step of a quantity is worth in the units shown, with the ratios in force:
// 0.1 V x the PT ratio, 0.001 A x the CT ratio, 0.001 kW x both, 0.01 Hz, 0.001.
double QuantityStep(int quantity, const TScaling& scale);
// The decimals a step shows: 0.4 V one, 0.05 A two, 10 V none.
int StepDecimals(double step);
// A value rounded to the decimals of its step, as a report gives it.
double RoundToStep(double value, double step);

// What a snapshot reports of one quantity.
struct TQuantityStats {
    double Average = 0;
    double Minimum = 0;
    double Maximum = 0;
};

struct TSnapshot {
    int Samples = 0;
    std::int64_t FirstMs = 0;
    std::int64_t LastMs = 0;
    std::array<TQuantityStats, QuantityCount> Stats{};
};

// Where a report takes its measurement snapshot from.
class IMeasurementSnapshot {
public:
    virtual ~IMeasurementSnapshot() = default;
    virtual TSnapshot Snapshot(std::int64_t nowMs) const = 0;
};

// The measurements of the last `spanMs` milliseconds, by the time they arrived.
class TMeasurementWindow : public IMeasurementSnapshot {
public:
    explicit TMeasurementWindow(std::int64_t spanMs = 10000) : FSpanMs(spanMs) {}
    void Add(std::int64_t ms, const TMeasurement& m);
    void Clear() { FSamples.clear(); }
    TSnapshot Snapshot(std::int64_t nowMs) const override;

private:
    std::int64_t FSpanMs;
    std::deque<std::pair<std::int64_t, TMeasurement>> FSamples;
};
