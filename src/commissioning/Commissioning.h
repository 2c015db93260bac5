// The commissioning tools of the main window: the meter memory and the write journal that
// follow the link, the Installation Check page, the journal window and the commissioning report.
// The main window owns one; it reaches the link only through its listener interface and its
// queue.
#pragma once

#include "commissioning/JournalFile.h"
#include "commissioning/JournalRecorder.h"
#include "commissioning/MeterMemory.h"
#include "commissioning/SettingsGuard.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class IDialogs;
class QWidget;
class TFormInstallCheck;
class TFormJournal;
class ILinkPort;
class TFormReportProgress;

class TCommissioning : public IMeterEvents {
public:
    TCommissioning(ILinkPort& link, IDialogs& dialogs, QWidget* window,
                   QString journalPath = TJournalFile::DefaultPath());
    ~TCommissioning() override;
    TCommissioning(const TCommissioning&) = delete;
    TCommissioning& operator=(const TCommissioning&) = delete;

    TMeterMemory& Memory() { return FMemory; }
    TJournalRecorder& Recorder() { return FRecorder; }
    TJournalFile& Journal() { return FJournal; }
    // Safe settings writes: the General Settings page's guard.
    TSettingsGuard& Guard() { return FGuard; }

    // The Installation Check page, without a parent; the main window docks it.
    TFormInstallCheck* CreateInstallCheckPage();

    // Shows the journal window (made on first use), read afresh.
    void ShowJournal();
    TFormJournal* JournalWindow() const;

    // Asks for the meter's serial number ahead of the page's reads when it is not known, so a
    // backup of the settings and the journal can name the meter. Only while online.
    void EnsureSerialNumber() { FRecorder.EnsureSerialNumber(); }

    // "Commissioning Report...": asks for the details and the file, reads identity, serial
    // number, settings and energy counters afresh, polls measurements when none were polled in
    // the last seconds, then writes the PDF and its JSON, says where and offers to open either.
    // When any of those reads did not come back nothing is written: the box names the reads and
    // offers to read again. A progress window shows the reads and the polling while they run;
    // its Cancel drops the report, and nothing is written.
    void StartReport();
    bool ReportRunning() const { return FReport != nullptr; }
    // The progress window of the report running; null when none runs.
    TFormReportProgress* ReportProgress() const;

    // Seams: clocks, the program's version, how long the report polls measurements itself.
    std::function<std::int64_t()> NowMs;
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    QString UtilityVersion;
    std::int64_t CollectMs = 10000;
    // The end of a report: written (the PDF's path) or not (the reason); after the box.
    std::function<void(bool written, const QString& text)> OnReportDone;

    // IMeterEvents: the report's progress; the serial number asked for when the settings are
    // read, so a backup and the journal can name the meter.
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override;
    void BlockRead(const TMeterModel& meter, std::uint16_t start,
                   std::span<const std::uint16_t> values) override;
    void CycleEnded() override;

private:
    struct TReportRun;
    void RunReport(const QString& path);
    void FinishReport();
    void RefuseReport(const QString& path, const QStringList& missing);
    void OfferReport(const QString& number, const QString& path);
    void CollectMeasurements();
    void CancelReport();
    void ShowProgress();
    void CloseProgress();
    void ShowJournalFailure(const QString& error);

    ILinkPort& FLink;
    IDialogs& FDialogs;
    QWidget* FWindow;
    TMeterMemory FMemory;
    TJournalFile FJournal;
    TJournalRecorder FRecorder;
    TSettingsGuard FGuard;
    QPointer<TFormJournal> FJournalWindow;
    std::unique_ptr<TReportRun> FReport;
    QPointer<TFormReportProgress> FProgress;
    QString FSite;
    QString FTechnician;
    QString FNotes;
    bool FShowingFailure = false;
    std::uint64_t FCyclesEnded = 0;
    QObject FDeferContext;
};
