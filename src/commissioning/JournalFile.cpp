#include "commissioning/JournalFile.h"

#include "commissioning/DataFolder.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A descriptor of `path` that never waits in open() (a FIFO without a writer, a device), kept
// only when it is a regular file; -1 otherwise, with the reason.
int OpenRegular(const QString& path, int flags, QString& error) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int failure = errno;
        error = failure == ENOENT ? QString() : SystemText(failure);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = QStringLiteral("it is not a regular file");
        return -1;
    }
    // Reads and writes of a regular file do not wait anyway; the flag served the open alone.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

QString TJournalFile::DefaultPath() {
    return UserDataFolder() + QStringLiteral("/journal.jsonl");
}

bool OpenJournalForReading(const QString& path, QFile& file, QString& error) {
    file.close();
    const int fd = OpenRegular(path, O_RDONLY, error);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool TJournalFile::Append(const QByteArray& line, QString& error) {
    QDir().mkpath(QFileInfo(FPath).absolutePath());
    QString reason;
    const int fd = OpenRegular(FPath, O_RDWR | O_APPEND | O_CREAT, reason);
    if (fd < 0) {
        error = QStringLiteral("Cannot open the write journal %1: %2")
                    .arg(FPath, reason.isEmpty() ? SystemText(ENOENT) : reason);
        return false;
    }
    QFile file;
    // Unbuffered: what a failed write left in a buffer would otherwise go out on close, after
    // the file was put back as it was.
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("Cannot open the write journal %1").arg(FPath);
        return false;
    }
    const qint64 before = file.size();
    // A line cut short by a crash must not swallow this entry: it ends where the entry starts.
    char last = '\n';
    QByteArray bytes = line;
    if (before > 0 && (::pread(fd, &last, 1, before - 1) != 1 || last != '\n'))
        bytes.prepend('\n');
    const bool written =
        file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
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
    QFile file;
    QString error;
    if (!OpenJournalForReading(FPath, file, error))
        return {};
    return file.readAll();
}
