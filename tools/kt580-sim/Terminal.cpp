#include "Terminal.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kt580sim {

namespace {

struct TSpeed {
    uint32_t Baud;
    speed_t Code;
};
constexpr TSpeed Speeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                             {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

bool SpeedCode(uint32_t baud, speed_t& code) {
    for (const auto& s : Speeds) {
        if (s.Baud == baud) {
            code = s.Code;
            return true;
        }
    }
    return false;
}

bool ApplyLine(int fd, uint32_t baudrate, TMeterParity parity, std::string& error) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS | PARENB | PARODD | CSTOPB | CSIZE);
    tio.c_cflag |= CS8;
    switch (parity) {
    case TMeterParity::Even:
        tio.c_cflag |= PARENB;
        break;
    case TMeterParity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case TMeterParity::None2:
        tio.c_cflag |= CSTOPB;
        break;
    case TMeterParity::None1:
        break;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t code{};
    if (!SpeedCode(baudrate, code)) {
        error = "no speed constant for " + std::to_string(baudrate);
        return false;
    }
    ::cfsetispeed(&tio, code);
    ::cfsetospeed(&tio, code);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

double CharacterSeconds(uint32_t baudrate) {
    return baudrate == 0 ? 0 : 11.0 / baudrate;
}

TTerminal::~TTerminal() {
    if (FFd >= 0) {
        ::close(FFd);
    }
    if (FHeldFd >= 0) {
        ::close(FHeldFd);
    }
}

std::unique_ptr<TTerminal> TTerminal::OpenPseudo(uint32_t baudrate, TMeterParity parity,
                                                 std::string& error) {
    auto t = std::make_unique<TTerminal>();
    t->FFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (t->FFd < 0 || ::grantpt(t->FFd) != 0 || ::unlockpt(t->FFd) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    char name[256];
    if (::ptsname_r(t->FFd, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return nullptr;
    }
    t->FPath = name;
    t->FHeldFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (t->FHeldFd < 0) {
        error = t->FPath + ": " + std::strerror(errno);
        return nullptr;
    }
    // Raw before anyone uses it: no echo, no line editing, no CR/LF translation of bytes.
    if (!ApplyLine(t->FHeldFd, baudrate, parity, error)) {
        return nullptr;
    }
    ::fcntl(t->FFd, F_SETFL, ::fcntl(t->FFd, F_GETFL) | O_NONBLOCK);
    return t;
}

std::unique_ptr<TTerminal> TTerminal::OpenDevice(const std::string& path, uint32_t baudrate,
                                                 TMeterParity parity, std::string& error) {
    auto t = std::make_unique<TTerminal>();
    t->FPath = path;
    t->FFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (t->FFd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(t->FFd, LOCK_EX | LOCK_NB) != 0) {
        error = path + ": in use by another program";
        return nullptr;
    }
    if (!::isatty(t->FFd)) {
        error = path + ": not a terminal";
        return nullptr;
    }
    if (!ApplyLine(t->FFd, baudrate, parity, error)) {
        error = path + ": " + error;
        return nullptr;
    }
    ::tcflush(t->FFd, TCIOFLUSH);
    return t;
}

std::optional<uint32_t> TTerminal::PeerBaudrate() const {
    if (FHeldFd < 0) {
        return std::nullopt;
    }
    termios tio{};
    if (::tcgetattr(FHeldFd, &tio) != 0) {
        return std::nullopt;
    }
    const speed_t code = ::cfgetospeed(&tio);
    for (const auto& s : Speeds) {
        if (s.Code == code) {
            return s.Baud;
        }
    }
    return 0; // a rate the meter cannot have
}

bool TTerminal::Reconfigure(uint32_t baudrate, TMeterParity parity, std::string& error) {
    if (IsPseudo()) {
        return true;
    }
    ::tcdrain(FFd); // the answer still leaves at the old settings
    return ApplyLine(FFd, baudrate, parity, error);
}

void TTerminal::Linger(int timeoutMs) {
    if (!IsPseudo()) {
        ::tcdrain(FFd);
        return;
    }
    // Bytes written reach the other side's queue a moment later (the driver hands them on
    // asynchronously), so an empty queue counts only once it has stayed empty a while.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto emptySince = Clock::now();
    while (Clock::now() < deadline) {
        int pending = 0;
        if (::ioctl(FHeldFd, FIONREAD, &pending) != 0) {
            return;
        }
        if (pending > 0) {
            emptySince = Clock::now();
        } else if (Clock::now() - emptySince >= std::chrono::milliseconds(30)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool TTerminal::WriteAll(const std::string& bytes, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false; // nobody reads the other side: the rest is lost, as on a dead line
        }
        pollfd p{FFd, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

} // namespace kt580sim
