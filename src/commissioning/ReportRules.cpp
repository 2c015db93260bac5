#include "commissioning/ReportRules.h"

#include "meter/RegisterDecode.h"
#include "meter/SettingsBlocks.h"
#include "meter/VersionRules.h"

#include <QTimeZone>

#include <algorithm>

std::vector<std::uint16_t> ReportLayoutBlocks(const QString& softwareVersion) {
    std::vector<std::uint16_t> blocks{sbGeneral, sbAlarm, sbAnalogOutput};
    if (ExtendedLayout(softwareVersion))
        blocks.push_back(sbDigitalOutput);
    if (RelayAlarmLayout(softwareVersion))
        blocks.push_back(sbRelay2Alarm);
    return blocks;
}

namespace {

QString Hex(std::uint16_t start) {
    return QStringLiteral("0x") +
           QString::number(start, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

} // namespace

QStringList MissingReads(const TReportReads& reads) {
    QStringList missing;
    if (!reads.Identity)
        missing << QStringLiteral("identity (%1)").arg(Hex(rbIdentity));
    if (!reads.SerialNumber)
        missing << QStringLiteral("serial number (%1)").arg(Hex(rbSerialNumber));
    const QString version = reads.Identity ? reads.SoftwareVersion : QString();
    for (std::uint16_t block : ReportLayoutBlocks(version))
        if (std::find(reads.SettingsBlocks.begin(), reads.SettingsBlocks.end(), block) ==
            reads.SettingsBlocks.end())
            missing << QStringLiteral("settings block %1").arg(Hex(block));
    if (!reads.Energy)
        missing << QStringLiteral("energy counters (%1)").arg(Hex(rbEnergy));
    if (reads.Samples <= 0)
        missing << QStringLiteral("measurements (%1)").arg(Hex(rbMeasurement));
    return missing;
}

QString OverallText(TOverall overall) {
    switch (overall) {
    case TOverall::Passed:
        return QStringLiteral("Passed");
    case TOverall::PassedWithRemarks:
        return QStringLiteral("Passed with remarks");
    case TOverall::NotPassed:
        break;
    }
    return QStringLiteral("Not passed");
}

namespace {

QString CheckReason(const TCheckResult& c) {
    return QStringLiteral("%1 (%2): %3").arg(c.Check, VerdictText(c.Verdict), c.Advice);
}

QString WriteReason(const TJournalEntry& e) {
    QString outcome = ReportOutcome(e);
    if (e.Outcome == QLatin1String("exception"))
        outcome =
            QStringLiteral("refused (exception %1)").arg(e.ExceptionCode, 2, 10, QLatin1Char('0'));
    return QStringLiteral("Write \"%1\" at %2: %3.")
        .arg(e.Write.What, e.Time.toString(QStringLiteral("HH:mm:ss")), outcome);
}

} // namespace

TOverallVerdict OverallVerdict(const std::vector<TCheckResult>& checks,
                               const std::vector<TJournalEntry>& journal) {
    TOverallVerdict v;
    QStringList faults;
    QStringList remarks;
    QStringList unjudged;
    for (const TCheckResult& c : checks) {
        if (c.Verdict == TVerdict::Fault)
            faults << CheckReason(c);
        else if (c.Verdict == TVerdict::Warning)
            remarks << CheckReason(c);
        else if (c.Verdict == TVerdict::CannotJudge)
            unjudged << CheckReason(c);
    }
    for (const TJournalEntry& e : journal)
        if (e.Outcome != QLatin1String("accepted") && e.Outcome != QLatin1String("verified"))
            remarks << WriteReason(e);
    if (!faults.isEmpty())
        v.Verdict = TOverall::NotPassed;
    else if (!remarks.isEmpty())
        v.Verdict = TOverall::PassedWithRemarks;
    else
        v.Reasons << QStringLiteral("Every check that could be judged is good.");
    v.Reasons = faults + remarks + v.Reasons + unjudged;
    return v;
}

QString ReportNumber(const QString& serialNumber, const QDateTime& time) {
    QString serial;
    for (const QChar c : serialNumber)
        if (serial.size() < 20 &&
            ((c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('-')))
            serial += c.toUpper();
    if (serial.isEmpty())
        serial = QStringLiteral("NOSERIAL");
    return QStringLiteral("CR-%1-%2")
        .arg(serial,
             time.toTimeZone(QTimeZone::utc()).toString(QStringLiteral("yyyyMMdd-HHmmsszzz")));
}
