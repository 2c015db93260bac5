// Safe settings writes on the running link: lists the changes for the Confirm box, saves the
// settings the meter held to a backup file before the first write, then follows the writes and
// their read-backs and tells the operator in one box whether the meter holds what was written.
#pragma once

#include "commissioning/MeterMemory.h"
#include "commissioning/SafeWrites.h"
#include "link/LinkListener.h"
#include "settings/SettingsWriteGuard.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class IDialogs;

class TSettingsGuard : public ILinkListener, public ISettingsWriteGuard {
public:
    TSettingsGuard(const TMeterMemory& memory, IDialogs& dialogs, QString backupFolder);

    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    // How many backups are kept, the newest.
    int Keep = 100;
    // The box after a sequence, for tests: verified, and its text.
    std::function<void(bool verified, const QString& text)> OnVerified;

    // ISettingsWriteGuard
    QStringList Changes(const std::vector<std::string>& writes) override;
    bool BeforeWrites(const std::vector<std::string>& writes) override;

    // ILinkListener
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override;
    void CycleEnded() override;

    const QString& BackupFolder() const { return FFolder; }
    // The last backup written; empty before the first.
    const QString& LastBackup() const { return FLastBackup; }

private:
    struct TTracked {
        TBlockWrite Write;
        bool ReadBack = false;
    };
    void Prune();
    void Tell(bool verified, const QString& text);

    const TMeterMemory& FMemory;
    IDialogs& FDialogs;
    QString FFolder;
    QString FLastBackup;
    std::vector<TTracked> FTracked;
    TMeterSettings FBefore;
    QObject FDeferContext;
};
