#include "BoundedFileRead.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Get() const { return FFd; }

private:
    int FFd;
};

} // namespace

TFileReadResult ReadRegularFile(const QString& path, qint64 limit) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so opening a FIFO with no writer returns at once; the type is then
    // checked on the descriptor itself, not on a name that could change meanwhile.
    const TFd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        return {errno == ENOENT ? TFileReadStatus::Missing : TFileReadStatus::Refused, {}};
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit)
        return {TFileReadStatus::Refused, {}};

    // The file may grow between fstat and read: read one byte past the limit to notice.
    std::string bytes(static_cast<size_t>(limit) + 1, '\0');
    size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + total, bytes.size() - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {TFileReadStatus::Refused, {}};
        if (n == 0)
            break;
        total += static_cast<size_t>(n);
    }
    if (total > static_cast<size_t>(limit))
        return {TFileReadStatus::Refused, {}};
    bytes.resize(total);
    return {TFileReadStatus::Read, std::move(bytes)};
}
