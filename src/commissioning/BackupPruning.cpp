#include "commissioning/BackupPruning.h"

#include <algorithm>

QStringList BackupsToDelete(std::vector<TBackupFile> files, int keep, const QString& current) {
    // The name carries the time it was made to the millisecond: it orders backups written
    // within the file system's time resolution.
    std::sort(files.begin(), files.end(), [](const TBackupFile& a, const TBackupFile& b) {
        if (a.Modified != b.Modified)
            return a.Modified > b.Modified;
        return a.Name > b.Name;
    });
    const bool currentThere = std::any_of(files.begin(), files.end(), [&](const TBackupFile& f) {
        return !current.isEmpty() && f.Name == current;
    });
    // The backup of the write in progress takes one of the places before any other.
    int room = std::max(keep, currentThere ? 1 : 0) - (currentThere ? 1 : 0);
    QStringList doomed;
    for (const TBackupFile& f : files) {
        if (currentThere && f.Name == current)
            continue;
        if (room > 0) {
            --room;
            continue;
        }
        doomed << f.Name;
    }
    return doomed;
}
