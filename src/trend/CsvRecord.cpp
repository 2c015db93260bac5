#include "trend/CsvRecord.h"

#include "trend/MeteringQuantities.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstdlib>

namespace {

constexpr TMeteringBlock Blocks[] = {TMeteringBlock::Measurement, TMeteringBlock::Energy,
                                     TMeteringBlock::Relays, TMeteringBlock::Inputs};

std::size_t Index(TMeteringBlock block) {
    return static_cast<std::size_t>(block);
}

QString Printable(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (c.unicode() >= 32 && c.unicode() != 127)
            out.append(c);
    return out;
}

} // namespace

QString CsvTimeStamp(std::int64_t msecsSinceEpoch, int offsetSeconds) {
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, QTimeZone(offsetSeconds));
    const int magnitude = std::abs(offsetSeconds) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offsetSeconds < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
               .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvCommentLine(const QString& serialNumber, const QString& meterVersion,
                       const QString& programName, const QString& programVersion) {
    return QStringLiteral("# KT580 serial number ") + CsvField(Printable(serialNumber)) +
           QStringLiteral(",software version ") + CsvField(Printable(meterVersion)) +
           QStringLiteral(",recorded by ") + CsvField(Printable(programName)) + u' ' +
           CsvField(Printable(programVersion));
}

QString CsvHeader(const TScaling& scaling) {
    QStringList columns{QStringLiteral("time")};
    for (const TQuantity& q : MeteringQuantities()) {
        const QString unit = QuantityUnit(q, scaling);
        columns << (unit.isEmpty() ? q.Name : q.Name + QStringLiteral(" (") + unit + u')');
    }
    for (const TMeteringBlock block : Blocks)
        for (int i = 0; i < BlockWidth(block); ++i)
            columns << RawColumnName(block, i);
    return columns.join(QLatin1Char(','));
}

QString CsvRow(const TCsvCycle& cycle) {
    QStringList cells{CsvTimeStamp(cycle.Time, cycle.OffsetSeconds)};
    for (const TQuantity& q : MeteringQuantities()) {
        const auto& reading = cycle.Blocks[Index(q.Block)];
        cells << (reading ? CsvField(QuantityText(q, *reading)) : QString());
    }
    for (const TMeteringBlock block : Blocks) {
        const auto& reading = cycle.Blocks[Index(block)];
        for (int i = 0; i < BlockWidth(block); ++i) {
            const auto at = static_cast<std::size_t>(i);
            cells << (reading && at < reading->Raw.size() ? QString::number(reading->Raw[at])
                                                          : QString());
        }
    }
    return cells.join(QLatin1Char(','));
}

std::optional<TCsvCycle> TCycleAssembler::Begin(std::int64_t time, int offsetSeconds) {
    std::optional<TCsvCycle> done = Finish();
    FOpen = TCsvCycle{};
    FOpen->Time = time;
    FOpen->OffsetSeconds = offsetSeconds;
    return done;
}

std::optional<TCsvCycle> TCycleAssembler::Answer(const TMeterReading& reading, std::int64_t time,
                                                 int offsetSeconds) {
    const TMeteringBlock block = reading.Block;
    std::optional<TCsvCycle> done;
    if (block == TMeteringBlock::Measurement)
        done = Begin(time, offsetSeconds);
    if (!FOpen)
        return done;
    FOpen->Blocks[Index(block)] = reading;
    if (block == TMeteringBlock::Inputs)
        return Finish();
    return done;
}

std::optional<TCsvCycle> TCycleAssembler::Lost(TMeteringBlock block, const TScaling& scaling,
                                               std::int64_t time, int offsetSeconds) {
    std::optional<TCsvCycle> done;
    if (block == TMeteringBlock::Measurement) {
        done = Begin(time, offsetSeconds);
        FOpen->ScalingAtLoss = scaling;
    }
    if (!FOpen)
        return done;
    // An earlier answer of the block in this cycle (a read-back after a command) stays.
    if (block == TMeteringBlock::Inputs)
        return Finish();
    return done;
}

std::optional<TCsvCycle> TCycleAssembler::Finish() {
    std::optional<TCsvCycle> done = std::move(FOpen);
    FOpen.reset();
    return done;
}
