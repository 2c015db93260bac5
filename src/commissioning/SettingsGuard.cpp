#include "commissioning/SettingsGuard.h"

#include "commissioning/BackupPruning.h"

#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"
#include "settings/SettingsFile.h"
#include "widgets/Dialogs.h"

#include <QDebug>
#include <QDir>
#include <QTimer>

#include <algorithm>

TSettingsGuard::TSettingsGuard(const TMeterMemory& memory, IDialogs& dialogs, QString backupFolder)
    : FMemory(memory), FDialogs(dialogs), FFolder(std::move(backupFolder)) {}

QStringList TSettingsGuard::Changes(const std::vector<std::string>& writes) {
    std::vector<TBlockWrite> blocks;
    for (const std::string& text : writes)
        if (auto w = SettingsBlockWrite(text))
            blocks.push_back(std::move(*w));
    return ChangeLines(blocks, FMemory.Settings(), FMemory.SoftwareVersion(), FMemory.Scaling());
}

bool TSettingsGuard::BeforeWrites(const std::vector<std::string>& writes) {
    if (!FMemory.SettingsComplete()) {
        FDialogs.ShowError(QStringLiteral(
            "The meter's settings have not all been read, so they cannot be backed up: nothing "
            "was written. Wait until the page shows the meter's values, then write again."));
        return false;
    }
    const QString path =
        QDir(FFolder).filePath(BackupFileName(FMemory.SerialNumber().value_or(QString()), Now()));
    QString error;
    if (!QDir().mkpath(FFolder) || !SaveSettingsFile(path, FMemory.Settings(), error)) {
        FDialogs.ShowError(
            QStringLiteral(
                "The meter's settings could not be backed up to %1: nothing was written.")
                .arg(path));
        return false;
    }
    FLastBackup = path;
    Prune();
    FBefore = FMemory.Settings();
    FBeforeScale = FMemory.Scaling();
    FReadBack = FBefore;
    FTracked.clear();
    for (const std::string& text : writes)
        if (auto w = SettingsBlockWrite(text))
            FTracked.push_back({std::move(*w), false});
    return true;
}

void TSettingsGuard::Prune() {
    std::vector<TBackupFile> files;
    for (const QFileInfo& f :
         QDir(FFolder).entryInfoList({QStringLiteral("KT580-*.pmt")}, QDir::Files))
        files.push_back({f.fileName(), f.lastModified()});
    const QDir folder(FFolder);
    for (const QString& name : BackupsToDelete(files, Keep, QFileInfo(FLastBackup).fileName()))
        QFile::remove(folder.filePath(name));
}

void TSettingsGuard::QueryFinished(const std::string& text, const TLinkLine& /*line*/,
                                   const TQueryOutcome& outcome) {
    if (FTracked.empty())
        return;
    if (const auto w = SettingsBlockWrite(text)) {
        for (TTracked& t : FTracked)
            if (t.Write.Block == w->Block && !t.Write.Outcome && !t.Write.NotSent &&
                t.Write.Data == w->Data) {
                t.Write.Outcome = outcome;
                return;
            }
        return;
    }
    ReadEnded(text, outcome);
}

void TSettingsGuard::ReadEnded(const std::string& text, const TQueryOutcome& outcome) {
    for (TTracked& t : FTracked) {
        const TSettingsBlock* block = FindSettingsBlock(t.Write.Block);
        // A read of a block before its write has gone out (or been held back) is no read-back.
        if ((t.Write.Outcome || t.Write.NotSent) && !t.ReadDone && text == block->ReadQuery) {
            t.ReadDone = true;
            t.Write.ReadBack = outcome.Result == TQueryResult::Answered;
            if (t.Write.ReadBack)
                FReadBack = FMemory.Settings();
            break;
        }
    }
    if (std::all_of(FTracked.begin(), FTracked.end(), [](const TTracked& t) { return t.ReadDone; }))
        Finish();
}

void TSettingsGuard::QueriesDropped(const std::vector<std::string>& texts) {
    for (const std::string& text : texts)
        if (const auto w = SettingsBlockWrite(text))
            for (TTracked& t : FTracked)
                if (t.Write.Block == w->Block && !t.Write.Outcome && t.Write.Data == w->Data)
                    t.Write.NotSent = true;
}

void TSettingsGuard::CycleEnded() {
    // What went out and what was read back before the end is told; the rest is not sent or
    // not verified.
    if (!FTracked.empty())
        Finish();
}

void TSettingsGuard::Finish() {
    std::vector<TBlockWrite> writes;
    for (const TTracked& t : FTracked)
        writes.push_back(t.Write);
    FTracked.clear();
    const TVerification v =
        VerifyWrites(writes, FBefore, FBeforeScale, FReadBack, FMemory.SoftwareVersion());
    if (OnChecked)
        OnChecked(v);
    Tell(v.AllVerified, v.Text);
}

void TSettingsGuard::Tell(bool verified, const QString& text) {
    // A closing program does not wait for the operator: the outcome goes to the log.
    if (Closing && Closing()) {
        qWarning().noquote() << text;
        if (OnVerified)
            OnVerified(verified, text);
        return;
    }
    // Never from inside the master's events: a modal box would run its timers re-entrantly.
    QTimer::singleShot(0, &FDeferContext, [this, verified, text] {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionSettingsWritten), text,
                            verified ? IDialogs::Information : IDialogs::Warning, IDialogs::Ok);
        if (OnVerified)
            OnVerified(verified, text);
    });
}
