// The commissioning report: what a technician hands the customer as proof that a meter is set
// up and wired right. One value holds its content; it becomes JSON and the HTML that the PDF is
// printed from, with the same content.
#pragma once

#include "commissioning/InstallCheck.h"
#include "commissioning/Measurements.h"
#include "commissioning/MeterMemory.h"
#include "commissioning/WriteJournal.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

struct TReportSetting {
    QString Field; // the field name of the settings file
    QString Value; // with its unit
};

struct TCommissioningReport {
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
    int SnapshotSeconds = 10;
    TSnapshot Snapshot;
    std::vector<TCheckResult> Checks;
    std::uint64_t SentCount = 0;
    std::uint64_t ErrorCount = 0;
    std::vector<TJournalEntry> Journal;
};

// The report of the meter the memory holds: identity, every setting of its layout, the
// measurements of the last seconds from `measurements`, the installation check; the journal
// entries of this session for this meter (by serial number).
TCommissioningReport BuildReport(const TMeterMemory& memory,
                                 const IMeasurementSnapshot& measurements, std::int64_t nowMs,
                                 const std::vector<TJournalEntry>& session);

// The installation check's inputs from what the memory holds.
TInstallInputs InstallInputs(const TMeterMemory& memory);

QJsonObject ReportJson(const TCommissioningReport& report);

// The document as HTML for QTextDocument; every text from the meter or the operator escaped.
QString ReportHtml(const TCommissioningReport& report);
