// The Bus page's words and numbers, pure: one row per meter on the shared line, the line's
// summary under the table, the hints that name a likely fault, and the table as CSV.
#pragma once

#include "bus/BusSchedule.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// What the caller knows of one meter from its model; values in physical units, nothing until
// read.
struct TBusMeterFacts {
    int Address = 0;
    QString SerialNumber;
    QString SoftwareVersion;
    std::optional<double> TotalPowerKw;
    std::optional<double> MeanVoltageV;
    std::optional<double> LargestCurrentA;
    std::optional<double> EnergyImportKwh;
};

// The columns of a row, in order.
QStringList BusColumnTitles();
const char* BusStateText(TBusMeterState state);
// One row's cells, texts as shown ("--" for what is not known yet).
QStringList BusRowCells(const TBusMeterFacts& facts, const TBusSchedule& bus, std::int64_t now);

// The line under the table: the cycle achieved against the one asked for, the share of the
// time a query was on the line, the silence and the time-out in force.
QString BusLineSummary(const TBusSchedule& bus, std::int64_t now, std::int64_t silenceMs,
                       int timeoutMs);

// Hints in plain words, for what the counters suggest: bad frames at one address only (two
// meters answering one address), one meter taking most of the line's time. `timeoutMs` is
// what an unanswered query costs.
QStringList BusHints(const TBusSchedule& bus, int timeoutMs);

// The rows as CSV (a heading line, then one line per row), fields quoted where they need it.
QString BusCsv(const QStringList& titles, const std::vector<QStringList>& rows);
