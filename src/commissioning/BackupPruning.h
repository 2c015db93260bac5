// Which settings backups go when more than the kept number lie in the folder: decided from the
// names and file times alone, so a clock set back or files copied in cannot make the backup of
// the write in progress the one that goes.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

struct TBackupFile {
    QString Name;
    QDateTime Modified;
};

// The names to delete so that `keep` backups remain: the newest by file time (a later name first
// among equal times) stay, and `current` stays whatever its time.
QStringList BackupsToDelete(std::vector<TBackupFile> files, int keep, const QString& current);
