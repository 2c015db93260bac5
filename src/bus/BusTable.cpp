#include "bus/BusTable.h"

#include <algorithm>

namespace {

const QString NoValue = QStringLiteral("--");

QString Number(const std::optional<double>& value, int decimals) {
    return value ? QString::number(*value, 'f', decimals) : NoValue;
}

QString Ms(const std::optional<std::int64_t>& value) {
    return value ? QString::number(*value) : NoValue;
}

QString Age(const std::optional<std::int64_t>& ms) {
    if (!ms)
        return NoValue;
    if (*ms < 60000)
        return QString::number(double(*ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
    return QString::number(*ms / 60000) + QStringLiteral(" min");
}

QString Share(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return NoValue;
    return QString::number(100.0 * double(part) / double(whole), 'f', 0) + QLatin1Char('%');
}

// The time a meter held the line: its answers' and its time-outs' (bad frames and exceptions
// take about an answer's time).
std::int64_t LineTimeMs(const TBusMeterStats& stats, int timeoutMs) {
    const std::int64_t answer = stats.MedianMs().value_or(0);
    return stats.TimedOut * timeoutMs +
           (stats.Answered + stats.BadFrames + stats.Exceptions) * answer;
}

QString CsvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QStringList BusColumnTitles() {
    return {QStringLiteral("Address"),      QStringLiteral("Serial number"),
            QStringLiteral("Software"),     QStringLiteral("State"),
            QStringLiteral("Values age"),   QStringLiteral("P total (kW)"),
            QStringLiteral("U mean (V)"),   QStringLiteral("I max (A)"),
            QStringLiteral("Import (kWh)"), QStringLiteral("Answered"),
            QStringLiteral("Time-outs"),    QStringLiteral("Bad frames"),
            QStringLiteral("Exceptions"),   QStringLiteral("Median (ms)"),
            QStringLiteral("95% (ms)"),     QStringLiteral("Interval (ms)")};
}

const char* BusStateText(TBusMeterState state) {
    switch (state) {
    case TBusMeterState::Answering:
        return "answering";
    case TBusMeterState::Slow:
        return "slow";
    case TBusMeterState::Offline:
        return "offline";
    case TBusMeterState::Paused:
        return "paused";
    }
    return "";
}

QStringList BusRowCells(const TBusMeterFacts& facts, const TBusSchedule& bus, std::int64_t now) {
    const TBusMeterStats& stats = bus.Stats(facts.Address);
    const auto text = [](const QString& s) { return s.isEmpty() ? NoValue : s; };
    return {
        QString::number(facts.Address), text(facts.SerialNumber), text(facts.SoftwareVersion),
        QString::fromLatin1(BusStateText(bus.State(facts.Address))), Age(stats.ValuesAgeMs(now)),
        Number(facts.TotalPowerKw, 3), Number(facts.MeanVoltageV, 1),
        Number(facts.LargestCurrentA, 3), Number(facts.EnergyImportKwh, 1),
        // Of the queries that ended: the one on the line now has no outcome yet.
        Share(stats.Answered, stats.Answered + stats.TimedOut + stats.BadFrames + stats.Exceptions),
        QString::number(stats.TimedOut), QString::number(stats.BadFrames),
        QString::number(stats.Exceptions), Ms(stats.MedianMs()), Ms(stats.P95Ms()),
        Ms(stats.AchievedIntervalMs())};
}

QString BusLineSummary(const TBusSchedule& bus, std::int64_t now, std::int64_t silenceMs,
                       int timeoutMs) {
    const TBusLineStats line = bus.LineStats(now);
    return QStringLiteral("Cycle: %1 ms achieved, %2 ms asked for. Line in use: %3%. Silence "
                          "between frames: %4 ms. Time-out: %5 ms.")
        .arg(Ms(line.AchievedCycleMs))
        .arg(line.AskedCycleMs)
        .arg(QString::number(100.0 * line.BusyShare, 'f', 0))
        .arg(silenceMs)
        .arg(timeoutMs);
}

QStringList BusHints(const TBusSchedule& bus, int timeoutMs) {
    QStringList hints;
    const std::vector<int> addresses = bus.Addresses();
    const auto withBadFrames = std::count_if(addresses.begin(), addresses.end(),
                                             [&](int a) { return bus.Stats(a).BadFrames > 0; });
    const auto answering = std::count_if(addresses.begin(), addresses.end(),
                                         [&](int a) { return bus.Stats(a).Answered > 0; });
    std::int64_t total = 0;
    for (const int a : addresses)
        total += LineTimeMs(bus.Stats(a), timeoutMs);
    for (const int a : addresses) {
        const TBusMeterStats& stats = bus.Stats(a);
        // The line is sound when the others' answers check out: broken frames at one address
        // alone are two meters answering at once.
        if (withBadFrames == 1 && stats.BadFrames >= 3 && answering >= 1 &&
            stats.Answered < stats.Queries)
            hints << QStringLiteral("Meter %1: %2 bad frames, and none from the other meters. "
                                    "Two meters at one address? Give each meter its own address.")
                         .arg(a)
                         .arg(stats.BadFrames);
        const std::int64_t own = LineTimeMs(stats, timeoutMs);
        if (addresses.size() >= 3 && total > 0 && own * 2 > total)
            hints << QStringLiteral("Meter %1 takes %2% of the line's time%3. Pause it or read it "
                                    "less often so the others keep their cycle.")
                         .arg(a)
                         .arg(100 * own / total)
                         .arg(stats.TimedOut * timeoutMs * 2 > own
                                  ? QStringLiteral(", mostly waiting for answers that never come")
                                  : QString());
    }
    return hints;
}

QString BusCsv(const QStringList& titles, const std::vector<QStringList>& rows) {
    const auto line = [](const QStringList& cells) {
        QStringList fields;
        for (const QString& cell : cells)
            fields << CsvField(cell);
        return fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    };
    QString csv = line(titles);
    for (const QStringList& row : rows)
        csv += line(row);
    return csv;
}
