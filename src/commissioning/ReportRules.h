// The decisions behind a commissioning report: whether the reads it is made from are complete,
// the one overall verdict with its reasons, and the report's number. Pure: values in, text out.
#pragma once

#include "commissioning/InstallCheck.h"
#include "commissioning/WriteJournal.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// What came back of the reads a report asked for.
struct TReportReads {
    bool Identity = false;
    QString SoftwareVersion; // of the identity read; decides the settings layout
    bool SerialNumber = false;
    std::vector<std::uint16_t> SettingsBlocks; // the settings blocks that arrived
    bool Energy = false;
    int Samples = 0; // measurements in the report's window
};

// The settings blocks of a meter's layout, in the order the page writes them.
std::vector<std::uint16_t> ReportLayoutBlocks(const QString& softwareVersion);

// The reads that did not come back, as the report's box names them ("settings block 0x1200");
// empty when the report can be written. Without the identity the layout is unknown: the
// blocks every layout has are asked for.
QStringList MissingReads(const TReportReads& reads);

enum class TOverall : std::uint8_t { Passed, PassedWithRemarks, NotPassed };

// "Passed", "Passed with remarks", "Not passed".
QString OverallText(TOverall overall);

struct TOverallVerdict {
    TOverall Verdict = TOverall::Passed;
    QStringList Reasons; // why, a fault first; what could not be judged last
};

// A fault in any check fails the installation; a warning, or a write of this session the
// meter did not accept, passes it with remarks. A check that cannot be judged is named among
// the reasons but does not change the verdict.
TOverallVerdict OverallVerdict(const std::vector<TCheckResult>& checks,
                               const std::vector<TJournalEntry>& journal);

// "CR-<serial>-<UTC date>-<UTC time to the millisecond>": one meter never gets two reports of
// the same number. The serial keeps letters, digits and '-' only (at most 20); none gives
// "NOSERIAL".
QString ReportNumber(const QString& serialNumber, const QDateTime& time);
