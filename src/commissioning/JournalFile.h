// The journal file: only ever appended to, each entry written whole and pushed to the disk
// before the next one, so a crash or a pulled plug loses nothing written before it. Only a
// regular file is opened, and never in a way that waits: a FIFO or a device in its place is
// refused, not waited on.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class TJournalFile {
public:
    explicit TJournalFile(QString path) : FPath(std::move(path)) {}
    const QString& Path() const { return FPath; }

    // Appends one line, on a line of its own even when the file ends in a cut line; false with
    // the reason in error when it did not reach the disk whole, and then the file is as it was
    // before.
    bool Append(const QByteArray& line, QString& error);
    // The whole file; empty when it does not exist yet or is not a regular file.
    QByteArray ReadAll() const;

    // The journal of the user's data folder.
    static QString DefaultPath();

private:
    QString FPath;
};

// Opens `path` for reading when it is a regular file, without waiting on whatever is there;
// false with the reason in error otherwise (and then `file` is closed). A missing file is
// false with an empty error.
bool OpenJournalForReading(const QString& path, QFile& file, QString& error);
