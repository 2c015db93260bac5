#include "platform/PosixSerialDevice.h"

#include "platform/Event.h"
#include "platform/Termios2.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

TIoResult IoFailure(int err) {
    switch (err) {
    case EAGAIN:
    case EINTR:
        return {TIoStatus::WouldBlock, 0, err};
    case EBADF:
        return {TIoStatus::Invalid, 0, err};
    default:
        return {TIoStatus::Fatal, 0, err};
    }
}

bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

} // namespace

TPosixSerialDevice::~TPosixSerialDevice() {
    Close();
}

TOpenResult TPosixSerialDevice::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {TOpenStatus::OpenFailed, errno};
    }
    // TIOCEXCL alone does not keep out root, and a second open of ours: the lock does.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return {TOpenStatus::OpenFailed, err};
    }
    [[maybe_unused]] const int excl = ::ioctl(fd, TIOCEXCL);
    struct stat st {};
    TTermState saved;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ReadTermState(fd, saved) != 0) {
        // /dev/null is a character device but no terminal.
        ::close(fd);
        return {TOpenStatus::NotComm, ENOTTY};
    }
    FFd = fd;
    FSaved = saved;
    FRs485Set = false;
    return {};
}

void TPosixSerialDevice::Close() {
    if (FFd < 0) {
        return;
    }
    if (FRs485Set) {
        serial_rs485 rs{};
        [[maybe_unused]] const int r = ::ioctl(FFd, TIOCSRS485, &rs);
    }
    [[maybe_unused]] const int restored = WriteTermState(FFd, FSaved);
    [[maybe_unused]] const int nx = ::ioctl(FFd, TIOCNXCL);
    ::close(FFd);
    FFd = -1;
}

bool TPosixSerialDevice::ApplyLineSettings(const TLineSettings& settings) {
    TTermState state;
    if (FFd < 0 || ReadTermState(FFd, state) != 0) {
        return false;
    }
    // A field this driver cannot take keeps its value, and the rest still goes out.
    const bool allTaken = MapLineSettings(settings, state);
    // A driver that refuses the settings keeps the port as it was, modem lines included.
    if (WriteTermState(FFd, state) != 0) {
        return false;
    }
    FRxConfig.store(PackRxFilter(
        {(state.Iflag & PARMRK) != 0, settings.IgnoreNullChar, settings.ReplacedChar}));
    const TModemRequests lines = MapModemLines(settings);
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    // Drivers without modem lines (pseudo-terminals) refuse these; nothing to do then.
    if (lines.Dtr != TLineRequest::Leave) {
        [[maybe_unused]] const int r =
            ::ioctl(FFd, lines.Dtr == TLineRequest::Raise ? TIOCMBIS : TIOCMBIC, &dtr);
    }
    if (lines.Rts != TLineRequest::Leave) {
        [[maybe_unused]] const int r =
            ::ioctl(FFd, lines.Rts == TLineRequest::Raise ? TIOCMBIS : TIOCMBIC, &rts);
    }
    if (lines.RtsOnSend || FRs485Set) {
        serial_rs485 rs{};
        if (lines.RtsOnSend) {
            rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        }
        FRs485Set = ::ioctl(FFd, TIOCSRS485, &rs) == 0 && lines.RtsOnSend;
    }
    return allTaken;
}

bool TPosixSerialDevice::ApplyTimeouts(const TCommTimeouts& timeouts) {
    // Only the interval shapes reading here; the total time-outs have no use with
    // a reader that always waits.
    FReadInterval.store(timeouts.ReadIntervalTimeout);
    return FFd >= 0;
}

TWaitStatus TPosixSerialDevice::Wait(TWaitFor what, const TEvent& stop, int timeoutMs) {
    if (FFd < 0) {
        return TWaitStatus::Invalid;
    }
    pollfd fds[2] = {{stop.Fd(), POLLIN, 0},
                     {FFd, static_cast<short>(what == TWaitFor::Readable ? POLLIN : POLLOUT), 0}};
    const int n = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0) {
        return errno == EINTR ? TWaitStatus::TimedOut : TWaitStatus::Fatal;
    }
    if (n == 0) {
        return TWaitStatus::TimedOut;
    }
    if (fds[0].revents & POLLIN) {
        return TWaitStatus::Stopped;
    }
    const short r = fds[1].revents;
    if (r & POLLNVAL) {
        return TWaitStatus::Invalid;
    }
    // Data still readable goes first; the read itself then reports the hang-up.
    if (r & (POLLIN | POLLOUT)) {
        return TWaitStatus::Ready;
    }
    if (r & (POLLHUP | POLLERR)) {
        return TWaitStatus::Fatal;
    }
    return fds[0].revents != 0 ? TWaitStatus::Fatal : TWaitStatus::TimedOut;
}

TIoResult TPosixSerialDevice::Read(char* buffer, std::size_t capacity) {
    const ssize_t n = ::read(FFd, buffer, capacity);
    if (n > 0) {
        const std::size_t kept =
            FRxFilter.Apply(UnpackRxFilter(FRxConfig.load()), buffer, static_cast<std::size_t>(n));
        // Bytes that were all markers or dropped nulls are no data yet, not an empty read.
        return kept > 0 ? TIoResult{TIoStatus::Ok, kept, 0}
                        : TIoResult{TIoStatus::WouldBlock, 0, 0};
    }
    if (n == 0) {
        return HungUp(FFd) ? TIoResult{TIoStatus::Fatal, 0, EIO}
                           : TIoResult{TIoStatus::Empty, 0, 0};
    }
    return IoFailure(errno);
}

TIoResult TPosixSerialDevice::Write(const char* data, std::size_t length) {
    const ssize_t n = ::write(FFd, data, length);
    if (n >= 0) {
        return {TIoStatus::Ok, static_cast<std::size_t>(n), 0};
    }
    return IoFailure(errno);
}

void TPosixSerialDevice::Purge(TPurge direction) {
    [[maybe_unused]] const int r = ::tcflush(FFd, direction == TPurge::Rx ? TCIFLUSH : TCOFLUSH);
}

TCounterStatus TPosixSerialDevice::LineCounters(TLineCounters& c) {
    serial_icounter_struct ic{};
    if (::ioctl(FFd, TIOCGICOUNT, &ic) != 0) {
        switch (errno) {
        case EBADF:
            return TCounterStatus::Invalid;
        case EIO:
        case ENXIO:
        case ENODEV:
            return TCounterStatus::Fatal;
        default:
            // Pseudo-terminals and many drivers do not count line events.
            return TCounterStatus::Unsupported;
        }
    }
    c.Cts = static_cast<std::uint32_t>(ic.cts);
    c.Dsr = static_cast<std::uint32_t>(ic.dsr);
    c.Ring = static_cast<std::uint32_t>(ic.rng);
    c.Dcd = static_cast<std::uint32_t>(ic.dcd);
    c.Frame = static_cast<std::uint32_t>(ic.frame);
    c.Overrun = static_cast<std::uint32_t>(ic.overrun);
    c.Parity = static_cast<std::uint32_t>(ic.parity);
    c.Brk = static_cast<std::uint32_t>(ic.brk);
    c.BufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
    return TCounterStatus::Ok;
}
