#include "commissioning/Commissioning.h"

#include "commissioning/CommissioningReport.h"
#include "commissioning/DataFolder.h"
#include "commissioning/ReportDocument.h"
#include "commissioning/frmInstallCheck.h"
#include "commissioning/frmJournal.h"
#include "commissioning/frmReportProgress.h"
#include "link/LinkPort.h"
#include "meter/QueryPlan.h"
#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"
#include "widgets/Dialogs.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

struct TCommissioning::TReportRun {
    QString Path;
    // The meter memory's mark when the reads were asked for: what arrives after it is fresh.
    std::uint64_t Mark = 0;
    // Queries to finish before the reads asked for are all in, of Total when they were asked.
    std::size_t Left = 0;
    std::size_t Total = 0;
    bool Collecting = false;
    std::int64_t CollectStart = 0;
};

namespace {

const QString ReportCaption = QStringLiteral("Commissioning Report");

std::int64_t MonotonicMs() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

TCommissioning::TCommissioning(ILinkPort& link, IDialogs& dialogs, QWidget* window,
                               QString journalPath)
    : NowMs(MonotonicMs), FLink(link), FDialogs(dialogs), FWindow(window),
      FMemory([this] { return NowMs(); }), FJournal(std::move(journalPath)),
      FRecorder(FMemory, FJournal),
      FGuard(FMemory, dialogs, UserDataFolder() + QStringLiteral("/backups")) {
    FGuard.Now = [this] { return Now(); };
    FGuard.Closing = [this] { return FLink.Closing(); };
    FGuard.OnChecked = [this](const TVerification& v) { FRecorder.RecordVerification(v); };
    FRecorder.Now = [this] { return Now(); };
    FRecorder.Ask = [this](const std::string& text) { FLink.AppendQuery(text); };
    FRecorder.OnFailure = [this](const QString& error) { ShowJournalFailure(error); };
    // The memory first: the others read what it has just learned.
    FLink.Follow(&FMemory);
    FLink.Follow(&FRecorder);
    FLink.Follow(&FGuard);
    FLink.Follow(this);
}

TCommissioning::~TCommissioning() {
    FLink.Unfollow(this);
    FLink.Unfollow(&FGuard);
    FLink.Unfollow(&FRecorder);
    FLink.Unfollow(&FMemory);
    delete FJournalWindow.data();
    delete FProgress.data();
}

TFormInstallCheck* TCommissioning::CreateInstallCheckPage() {
    return new TFormInstallCheck(FMemory);
}

TFormReportProgress* TCommissioning::ReportProgress() const {
    return FProgress.data();
}

TFormJournal* TCommissioning::JournalWindow() const {
    return FJournalWindow.data();
}

void TCommissioning::ShowJournal() {
    if (!FJournalWindow)
        FJournalWindow = new TFormJournal(FJournal, FDialogs, FWindow);
    FJournalWindow->Reload();
    FJournalWindow->show();
    FJournalWindow->raise();
}

void TCommissioning::ShowJournalFailure(const QString& error) {
    // Never from inside the master's events; one box at a time.
    QTimer::singleShot(0, &FDeferContext, [this, error] {
        if (FShowingFailure)
            return;
        FShowingFailure = true;
        FDialogs.ShowError(error);
        FShowingFailure = false;
    });
}

void TCommissioning::StartReport() {
    if (FReport)
        return;
    if (!FDialogs.ReportDetails(FWindow, FSite, FTechnician, FNotes))
        return;
    const QString path =
        FDialogs.SaveDocument(FWindow, QStringLiteral("report"), FLink.SerialNumber(),
                              QStringLiteral("PDF document (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    RunReport(path);
}

void TCommissioning::RunReport(const QString& path) {
    FReport = std::make_unique<TReportRun>();
    FReport->Path = path;
    FReport->Mark = FMemory.Mark();
    // Everything the report states about the meter is read now, behind whatever waits.
    std::vector<std::string> reads = PageReads(TPage::GeneralSettings, FLink.SoftwareVersion());
    reads.insert(reads.begin() + 1, qry::SerialNumber);
    reads.emplace_back(EnergyReadQuery(FLink.SoftwareVersion()));
    for (std::string& read : reads)
        FLink.AppendQuery(std::move(read));
    // Every query ahead of the last read ends first, the one on the line now included.
    FReport->Left = FLink.QueriesLeft();
    FReport->Total = FReport->Left;
    ShowProgress();
}

void TCommissioning::ShowProgress() {
    if (!FProgress) {
        // Not modal: the link's events go on, and the main window's Disconnect stays at hand.
        FProgress = new TFormReportProgress(FWindow);
        QObject::connect(FProgress, &QDialog::rejected, &FDeferContext, [this] { CancelReport(); });
    }
    FProgress->ShowReading(0, static_cast<int>(FReport->Total));
    FProgress->show();
    FProgress->raise();
}

void TCommissioning::CloseProgress() {
    if (!FProgress)
        return;
    // Closed by the report, not by the operator: no longer a Cancel.
    QObject::disconnect(FProgress, nullptr, &FDeferContext, nullptr);
    FProgress->hide();
    FProgress->deleteLater();
    FProgress = nullptr;
}

void TCommissioning::CancelReport() {
    if (!FReport)
        return;
    // What is still queued for it is read as any other query; nothing acts on the answers.
    FReport.reset();
    CloseProgress();
    if (OnReportDone)
        OnReportDone(false, QStringLiteral("The commissioning report was cancelled; nothing was "
                                           "written."));
}

void TCommissioning::QueryFinished(const std::string& /*text*/, const TLinkLine& /*line*/,
                                   const TQueryOutcome& /*outcome*/) {
    if (!FReport)
        return;
    if (FReport->Collecting) {
        CollectMeasurements();
        return;
    }
    if (FReport->Left > 0)
        --FReport->Left;
    if (FProgress)
        FProgress->ShowReading(static_cast<int>(FReport->Total - FReport->Left),
                               static_cast<int>(FReport->Total));
    if (FReport->Left > 0)
        return;
    // Measurements of the last seconds come from the polling of the page shown; with none,
    // the report polls them itself for as long.
    if (FMemory.Window().Snapshot(NowMs()).Samples > 0) {
        QTimer::singleShot(0, &FDeferContext, [this] { FinishReport(); });
        return;
    }
    FReport->Collecting = true;
    FReport->CollectStart = NowMs();
    if (FProgress)
        FProgress->ShowCollecting(0, CollectMs);
    FLink.AppendQuery(qry::Measurement);
}

void TCommissioning::CollectMeasurements() {
    const std::int64_t elapsed = NowMs() - FReport->CollectStart;
    if (FProgress)
        FProgress->ShowCollecting(elapsed, CollectMs);
    if (elapsed >= CollectMs) {
        FReport->Collecting = false;
        FReport->Left = 0;
        QTimer::singleShot(0, &FDeferContext, [this] { FinishReport(); });
        return;
    }
    FLink.AppendQuery(qry::Measurement);
}

void TCommissioning::BlockRead(const TMeterModel& /*meter*/, std::uint16_t start,
                               std::span<const std::uint16_t> /*values*/) {
    // Block 0x1200 is read only for the General Settings page (and the report).
    if (start == sbAlarm)
        FRecorder.EnsureSerialNumber();
}

void TCommissioning::CycleEnded() {
    ++FCyclesEnded;
    if (!FReport)
        return;
    FReport.reset();
    CloseProgress();
    const QString reason = QStringLiteral(
        "The meter was disconnected before the report was complete; nothing was written.");
    QTimer::singleShot(0, &FDeferContext, [this, reason] {
        FDialogs.ShowError(reason);
        if (OnReportDone)
            OnReportDone(false, reason);
    });
}

void TCommissioning::FinishReport() {
    if (!FReport)
        return;
    const std::unique_ptr<TReportRun> run = std::move(FReport);
    CloseProgress();
    const std::int64_t now = NowMs();
    const QStringList missing =
        MissingReads(ReportReadsSince(FMemory, run->Mark, FMemory.Window().Snapshot(now).Samples));
    if (!missing.isEmpty()) {
        RefuseReport(run->Path, missing);
        return;
    }
    TCommissioningReport report = BuildReport(FMemory, FMemory.Window(), now, FRecorder.Session());
    report.Time = Now();
    report.Number = ReportNumber(report.SerialNumber, report.Time);
    report.UtilityVersion = UtilityVersion;
    report.Site = FSite;
    report.Technician = FTechnician;
    report.Notes = FNotes;
    report.Line = FLink.Line();
    report.SentCount = FLink.SentCount();
    report.ErrorCount = FLink.ErrorCount();
    QString error;
    if (!WriteReport(report, run->Path, error)) {
        FDialogs.ShowError(error);
        if (OnReportDone)
            OnReportDone(false, error);
        return;
    }
    OfferReport(report.Number, run->Path);
    if (OnReportDone)
        OnReportDone(true, run->Path);
}

void TCommissioning::OfferReport(const QString& number, const QString& path) {
    const int choice = FDialogs.Choose(
        ReportCaption,
        QStringLiteral("The commissioning report %1 was written to %2 and %3.")
            .arg(number, path, ReportJsonPath(path)),
        IDialogs::Information,
        {QStringLiteral("Open Report"), QStringLiteral("Open Folder"), QStringLiteral("Close")});
    QString target;
    if (choice == 0)
        target = path;
    else if (choice == 1)
        target = QFileInfo(path).absolutePath();
    if (target.isEmpty() || FDialogs.OpenLocation(target))
        return;
    FDialogs.ShowError(
        QStringLiteral("The report was written, but %1 could not be opened on this computer. "
                       "Open it from the file manager.")
            .arg(target));
}

void TCommissioning::RefuseReport(const QString& path, const QStringList& missing) {
    const QString reason =
        QStringLiteral("The commissioning report was not written: the meter did not answer the "
                       "read of %1.")
            .arg(missing.join(QStringLiteral(", ")));
    // Read again only on the connection the reads failed on: not after a disconnect.
    const std::uint64_t cycles = FCyclesEnded;
    if (FDialogs.MessageBox(ReportCaption, reason + QStringLiteral("\n\nRead the meter again?"),
                            IDialogs::Warning, IDialogs::YesNo) == IDialogs::ResultYes &&
        cycles == FCyclesEnded) {
        RunReport(path);
        return;
    }
    if (OnReportDone)
        OnReportDone(false, reason);
}
