#include "trend/RowFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TFileOps SystemFileOps() {
    TFileOps ops;
    ops.Create = [](const QString& path, QString& error) {
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int code = errno;
        if (fd < 0)
            error = code == EEXIST ? QStringLiteral("exists")
                                   : QString::fromLocal8Bit(std::strerror(code));
        return fd;
    };
    ops.Write = [](int fd, const char* data, std::int64_t size, QString& error) {
        ssize_t n = -1;
        do {
            n = ::write(fd, data, static_cast<std::size_t>(size));
        } while (n < 0 && errno == EINTR);
        const int code = errno;
        if (n < 0)
            error = QString::fromLocal8Bit(std::strerror(code));
        return static_cast<std::int64_t>(n);
    };
    ops.Truncate = [](int fd, std::int64_t size) {
        while (::ftruncate(fd, static_cast<off_t>(size)) < 0 && errno == EINTR) {
        }
        ::lseek(fd, static_cast<off_t>(size), SEEK_SET);
    };
    ops.Close = [](int fd) {
        ::fsync(fd);
        ::close(fd);
    };
    ops.Remove = [](const QString& path) { QFile::remove(path); };
    return ops;
}

TRowFile::TRowFile(TFileOps ops) : FOps(std::move(ops)) {}

TRowFile::~TRowFile() {
    Close();
}

TRowFile::TOpened TRowFile::Open(const QString& path) {
    Close();
    FError.clear();
    const int fd = FOps.Create(path, FError);
    if (fd < 0)
        return FError == QLatin1String("exists") ? TOpened::Exists : TOpened::Failed;
    FFd = fd;
    FPath = path;
    FSize = 0;
    FRows = 0;
    return TOpened::Yes;
}

bool TRowFile::AppendLine(const QByteArray& line, bool isRow) {
    if (FFd < 0)
        return false;
    const QByteArray bytes = line + '\n';
    std::int64_t done = 0;
    while (done < bytes.size()) {
        QString error;
        const std::int64_t n =
            FOps.Write(FFd, bytes.constData() + done, bytes.size() - done, error);
        if (n <= 0) {
            // Cut short: the part written is taken back.
            if (done > 0)
                FOps.Truncate(FFd, FSize);
            FError = error.isEmpty() ? QStringLiteral("no room on the disk") : error;
            return false;
        }
        done += n;
    }
    FSize += bytes.size();
    if (isRow)
        ++FRows;
    return true;
}

bool TRowFile::Close() {
    if (FFd < 0)
        return false;
    FOps.Close(FFd);
    FFd = -1;
    if (FRows > 0)
        return true;
    FOps.Remove(FPath);
    return false;
}
