#include "settings/BoundedFileRead.h"

#include "settings/FileDescriptor.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TFileReadResult ReadRegularFile(const QString& path, qint64 limit) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so opening a FIFO with no writer returns at once; the type is then
    // checked on the descriptor itself, not on a name that could change meanwhile.
    const TFd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        return {errno == ENOENT ? TFileReadStatus::Missing : TFileReadStatus::Refused, {}};
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {TFileReadStatus::Refused, {}};
    if (st.st_size > limit)
        return {TFileReadStatus::TooLarge, {}};

    // The file may grow between fstat and read: reading goes on past the limit by one
    // chunk at most, enough to notice.
    std::string bytes;
    char chunk[64 * 1024];
    while (static_cast<qint64>(bytes.size()) <= limit) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {TFileReadStatus::Refused, {}};
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    if (static_cast<qint64>(bytes.size()) > limit)
        return {TFileReadStatus::TooLarge, {}};
    return {TFileReadStatus::Read, std::move(bytes)};
}
