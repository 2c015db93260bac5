#include "commissioning/JournalFile.h"

#include "commissioning/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

QString TJournalFile::DefaultPath() {
    return UserDataFolder() + QStringLiteral("/journal.jsonl");
}

bool TJournalFile::Append(const QByteArray& line, QString& error) {
    QDir().mkpath(QFileInfo(FPath).absolutePath());
    QFile file(FPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error =
            QStringLiteral("Cannot open the write journal %1: %2").arg(FPath, file.errorString());
        return false;
    }
    const qint64 before = file.size();
    const bool written =
        file.write(line) == line.size() && file.flush() && ::fsync(file.handle()) == 0;
    if (!written) {
        error = QStringLiteral("Cannot write to the write journal %1: %2")
                    .arg(FPath, file.errorString());
        // A torn entry would run into the next one: the file goes back to where it was.
        file.resize(before);
        return false;
    }
    return true;
}

QByteArray TJournalFile::ReadAll() const {
    QFile file(FPath);
    if (!QFileInfo(FPath).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
