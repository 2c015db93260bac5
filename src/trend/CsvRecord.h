// The text of a recording: one CSV file per run of rows, a first comment line naming the
// meter, a header with every quantity's name and unit followed by the raw register columns,
// and one row per metering cycle. A block without an answer leaves its cells empty.
#pragma once

#include "meter/MeterReading.h"
#include "meter/Scaling.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// "2026-03-01T14:05:09.042+01:00": local time with milliseconds and the offset from UTC.
QString CsvTimeStamp(std::int64_t msecsSinceEpoch, int offsetSeconds);

// A field quoted when it holds a separator, a quote or a line break; a quote is doubled.
QString CsvField(const QString& text);

// "# KT580 serial number ...,software version ...,recorded by PROGRAM VERSION": the meter's
// texts with control characters dropped, so a meter's bytes can never end the line or start a
// new row.
QString CsvCommentLine(const QString& serialNumber, const QString& meterVersion,
                       const QString& programName, const QString& programVersion);

// "time,Volts AN (V),...,0x1400,...": the names with their units, then the raw columns.
QString CsvHeader(const TScaling& scaling);

// One cycle of the metering rotation: the time of its measurement read and what each block
// answered (nothing for a block whose read was lost or did not happen).
struct TCsvCycle {
    std::int64_t Time = 0; // ms since the epoch
    int OffsetSeconds = 0;
    // The scaling last known when the cycle's measurement read was lost; an answered one
    // carries its own.
    TScaling ScalingAtLoss;
    std::array<std::optional<TMeterReading>, 4> Blocks;

    // The scaling of the measurement read that began the cycle (it names the header's units).
    const TScaling& Scaling() const { return Blocks[0] ? Blocks[0]->Scaling : ScalingAtLoss; }
};
QString CsvRow(const TCsvCycle& cycle);

// Gathers the answers of the rotation into cycles. A cycle begins with each measurement read,
// answered or lost, and is complete with the inputs read, the rotation's last, or when the
// next measurement read begins; answers before the first measurement read are left out, so a
// recording holds exactly one row per measurement read.
class TCycleAssembler {
public:
    // Each returns the cycle it completed, if any.
    std::optional<TCsvCycle> Answer(const TMeterReading& reading, std::int64_t time,
                                    int offsetSeconds);
    std::optional<TCsvCycle> Lost(TMeteringBlock block, const TScaling& scaling, std::int64_t time,
                                  int offsetSeconds);
    // The cycle begun and not yet complete (at the end of a recording).
    std::optional<TCsvCycle> Finish();

private:
    std::optional<TCsvCycle> Begin(std::int64_t time, int offsetSeconds);
    std::optional<TCsvCycle> FOpen;
};
