// The journal file: only ever appended to, each entry written whole and pushed to the disk
// before the next one, so a crash or a pulled plug loses nothing written before it.
#pragma once

#include <QByteArray>
#include <QString>

class TJournalFile {
public:
    explicit TJournalFile(QString path) : FPath(std::move(path)) {}
    const QString& Path() const { return FPath; }

    // Appends one line; false with the reason in error when it did not reach the disk whole,
    // and then the file is as it was before.
    bool Append(const QByteArray& line, QString& error);
    // The whole file; empty when it does not exist yet.
    QByteArray ReadAll() const;

    // The journal of the user's data folder.
    static QString DefaultPath();

private:
    QString FPath;
};
