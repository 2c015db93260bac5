#include "commissioning/SettingsGuard.h"

#include "commissioning/BackupPruning.h"

#include "link/cstMain.h"
#include "settings/SettingsBlocks.h"
#include "settings/SettingsFile.h"
#include "widgets/Dialogs.h"

#include <QDir>
#include <QTimer>

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
            if (t.Write.Block == w->Block && !t.Write.Outcome && t.Write.Data == w->Data) {
                t.Write.Outcome = outcome;
                return;
            }
        return;
    }
    for (TTracked& t : FTracked) {
        const TSettingsBlock* block = FindSettingsBlock(t.Write.Block);
        if (t.Write.Outcome && !t.ReadBack && text == block->ReadQuery) {
            if (outcome.Result != TQueryResult::Answered) {
                FTracked.clear();
                Tell(false, QStringLiteral("The settings could not be verified: the meter did not "
                                           "answer the read of block %1.")
                                .arg(RegisterHex(block->Start)));
                return;
            }
            t.ReadBack = true;
            break;
        }
    }
    for (const TTracked& t : FTracked)
        if (!t.ReadBack)
            return;
    std::vector<TBlockWrite> writes;
    for (const TTracked& t : FTracked)
        writes.push_back(t.Write);
    FTracked.clear();
    const TVerification v = VerifyWrites(writes, FBefore, FMemory.Settings(),
                                         FMemory.SoftwareVersion(), FMemory.Scaling());
    Tell(v.AllVerified, v.Text);
}

void TSettingsGuard::CycleEnded() {
    if (FTracked.empty())
        return;
    FTracked.clear();
    Tell(false, QStringLiteral("The link ended before the settings were read back: they are not "
                               "verified."));
}

void TSettingsGuard::Tell(bool verified, const QString& text) {
    // Never from inside the master's events: a modal box would run its timers re-entrantly.
    QTimer::singleShot(0, &FDeferContext, [this, verified, text] {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt), text,
                            verified ? IDialogs::Information : IDialogs::Warning, IDialogs::Ok);
        if (OnVerified)
            OnVerified(verified, text);
    });
}
