// The commissioning report: what a technician hands the customer as proof that a meter is set
// up and wired right. One value holds its content; it becomes JSON and the HTML that the PDF is
// printed from, with the same content.
#pragma once

#include "commissioning/InstallCheck.h"
#include "commissioning/Measurements.h"
#include "commissioning/MeterMemory.h"
#include "commissioning/ReportRules.h"
#include "commissioning/WriteJournal.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

struct TReportSetting {
    QString Caption; // as the General Settings page names it
    QString Field;   // the field name of the settings file
    QString Value;   // with its unit
};

// An energy counter at handover, as the metering page names it.
struct TReportEnergy {
    QString Name; // "Ep_total"
    double Value = 0;
    QString Unit; // "kWh", "kvarh"
};

struct TCommissioningReport {
    QString Number; // ReportNumber() of the serial number and the time
    QDateTime Time;
    QString UtilityVersion;
    QString Site;
    QString Technician;
    QString Notes;
    TLinkLine Line;
    // Identity.
    QString DeviceType;
    QString Model;
    QString HardwareVersion;
    QString SoftwareVersion;
    QString ReleaseDate;
    QString SerialNumber;
    std::vector<TReportSetting> Settings;
    std::vector<TReportEnergy> Energy;
    int SnapshotSeconds = 10;
    TSnapshot Snapshot;
    TScaling Scaling; // the ratios the measurements were scaled with: their resolution
    std::vector<TCheckResult> Checks;
    TOverallVerdict Overall;
    std::uint64_t SentCount = 0;
    std::uint64_t ErrorCount = 0;
    std::vector<TJournalEntry> Journal;
};

// The report of the meter the memory holds: identity, every setting of its layout, the energy
// counters, the measurements of the last seconds from `measurements`, the installation check
// judged from their averages (from the last measurement when there are none); the journal
// entries of this session for this meter (by serial number); the overall verdict. The number
// is set with the time, by the caller.
TCommissioningReport BuildReport(const TMeterMemory& memory,
                                 const IMeasurementSnapshot& measurements, std::int64_t nowMs,
                                 const std::vector<TJournalEntry>& session);

// The installation check's inputs from what the memory holds.
TInstallInputs InstallInputs(const TMeterMemory& memory);

// What of a report's reads came back since `mark` (TMeterMemory::Mark() when they were asked
// for), with the samples of the report's measurement window.
TReportReads ReportReadsSince(const TMeterMemory& memory, std::uint64_t mark, int samples);

// The line at the top of every page of the PDF, and the one at the foot.
QString ReportHeader(const TCommissioningReport& report);
QString ReportFooter(const TCommissioningReport& report, int page, int pages);

QJsonObject ReportJson(const TCommissioningReport& report);

// The document as HTML for QTextDocument; every text from the meter or the operator escaped.
QString ReportHtml(const TCommissioningReport& report);
