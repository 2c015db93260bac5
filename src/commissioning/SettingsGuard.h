// Safe settings writes on the running link: lists the changes for the Confirm box, saves the
// settings the meter held to a backup file before the first write, then follows the writes and
// their read-backs and tells the operator in one box whether the meter holds what was written.
#pragma once

#include "commissioning/MeterMemory.h"
#include "commissioning/SafeWrites.h"
#include "meter/MeterEvents.h"
#include "settings/SettingsWriteGuard.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class IDialogs;

class TSettingsGuard : public IMeterEvents, public ISettingsWriteGuard {
public:
    TSettingsGuard(const TMeterMemory& memory, IDialogs& dialogs, QString backupFolder);

    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    // How many backups are kept, the newest.
    int Keep = 100;
    // The outcome of a sequence, told after the box: verified, and its text.
    std::function<void(bool verified, const QString& text)> OnVerified;
    // The outcome of a sequence as it is judged, before the operator is told: for the journal.
    std::function<void(const TVerification&)> OnChecked;
    // True while the program is closing: the outcome of a sequence is logged, and no box waits
    // for the operator.
    std::function<bool()> Closing;

    // ISettingsWriteGuard
    QStringList Changes(const std::vector<std::string>& writes) override;
    bool BeforeWrites(const std::vector<std::string>& writes) override;

    // IMeterEvents
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override;
    void QueriesDropped(const std::vector<std::string>& texts) override;
    void CycleEnded() override;

    const QString& BackupFolder() const { return FFolder; }
    // The last backup written; empty before the first.
    const QString& LastBackup() const { return FLastBackup; }

private:
    struct TTracked {
        TBlockWrite Write;
        bool ReadDone = false; // its read-back has ended, answered or not
    };
    void ReadEnded(const std::string& text, const TQueryOutcome& outcome);
    void Finish();
    void Prune();
    void Tell(bool verified, const QString& text);

    const TMeterMemory& FMemory;
    IDialogs& FDialogs;
    QString FFolder;
    QString FLastBackup;
    std::vector<TTracked> FTracked;
    TMeterSettings FBefore;
    TScaling FBeforeScale;
    // The settings as the meter gave them back, kept past the end of the link.
    TMeterSettings FReadBack;
    QObject FDeferContext;
};
