#include "net/TcpSession.h"

#include "net/TcpFailure.h"

#include "platform/Event.h"
#include "serial/Hangup.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// One address getaddrinfo gave, copied out of its list.
struct TTcpAddress {
    int Family = 0;
    sockaddr_storage Address{};
    socklen_t Size = 0;
};

// What the resolver thread hands back. Shared with that thread, which may outlive the session
// (a name server that takes its time): it touches nothing else.
struct TResolveJob {
    std::mutex Lock;
    int Error = 0;
    std::vector<TTcpAddress> Addresses;
    std::unique_ptr<TEvent> Done;
};

namespace {

constexpr std::size_t kChunkSize = 2048;

void RunResolver(const std::shared_ptr<TResolveJob>& job, const std::string& host,
                 std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    std::vector<TTcpAddress> addresses;
    for (const addrinfo* at = list; error == 0 && at != nullptr; at = at->ai_next) {
        TTcpAddress address;
        address.Family = at->ai_family;
        address.Size = std::min<socklen_t>(at->ai_addrlen, sizeof address.Address);
        std::memcpy(&address.Address, at->ai_addr, address.Size);
        addresses.push_back(address);
    }
    if (list != nullptr) {
        ::freeaddrinfo(list);
    }
    {
        std::lock_guard g(job->Lock);
        job->Error = error;
        job->Addresses = std::move(addresses);
    }
    job->Done->Set();
}

// Closes the socket when the session ends, however it ends.
class TSocketGuard {
public:
    explicit TSocketGuard(int& fd) : FFd(fd) {}
    ~TSocketGuard() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    TSocketGuard(const TSocketGuard&) = delete;
    TSocketGuard& operator=(const TSocketGuard&) = delete;

private:
    int& FFd;
};

} // namespace

std::unique_ptr<TTcpSession> TTcpSession::Create(const TTcpTarget& target, const TEvent& closeEvent,
                                                 THangup& hangup, TNotifier notifier,
                                                 std::atomic<bool>& sendIdleFlag) {
    auto wake = TEvent::Create();
    if (!wake) {
        return nullptr;
    }
    return std::make_unique<TTcpSession>(target, closeEvent, hangup, notifier, sendIdleFlag,
                                         std::move(wake));
}

TTcpSession::TTcpSession(const TTcpTarget& target, const TEvent& closeEvent, THangup& hangup,
                         TNotifier notifier, std::atomic<bool>& sendIdleFlag,
                         std::unique_ptr<TEvent> wake)
    : FTarget(target), FCloseEvent(closeEvent), FHangup(hangup), FNotifyTarget(notifier),
      FSendIdleFlag(sendIdleFlag), FWake(std::move(wake)) {}

TTcpSession::~TTcpSession() {
    Join();
}

void TTcpSession::Start() {
    FThread = std::thread([this] { Execute(); });
}

void TTcpSession::Join() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

bool TTcpSession::Post(std::string block) {
    {
        std::lock_guard g(FLock);
        if (FEnded) {
            return false;
        }
        FQueue.push_back(std::move(block));
    }
    FWake->Set();
    return true;
}

void TTcpSession::Execute() {
    int fd = -1;
    {
        TSocketGuard guard(fd);
        std::vector<TTcpAddress> addresses;
        if (Resolve(addresses) && Connect(addresses, fd)) {
            ReportConnect(static_cast<int>(TTcpState::Connected), {});
            Serve(fd);
        }
    }
    FSendIdleFlag.store(true);
    std::lock_guard g(FLock);
    FEnded = true;
    FQueue.clear();
}

void TTcpSession::ReportConnect(int state, std::string text) {
    // A failed connect is the end of the period for writes, as a lost line is.
    if (state != static_cast<int>(TTcpState::Connected)) {
        FHangup.Report();
    }
    if (!FNotifyTarget.Post(NotifyConnect, static_cast<std::uint32_t>(state), std::move(text))) {
        FHangup.Report();
    }
}

void TTcpSession::ReportDrop(int error) {
    if (FHangup.Report()) {
        FNotifyTarget.Post(NotifyRequestHangup, static_cast<std::uint32_t>(TTcpState::Dropped),
                           DropText(FTarget.Host, FTarget.Port, error));
    }
}

bool TTcpSession::Resolve(std::vector<TTcpAddress>& addresses) {
    auto job = std::make_shared<TResolveJob>();
    job->Done = TEvent::Create();
    if (!job->Done) {
        ReportConnect(static_cast<int>(TTcpState::Failed),
                      ConnectFailureText(FTarget.Host, FTarget.Port, EMFILE, 0));
        return false;
    }
    try {
        std::thread([job, host = FTarget.Host, port = FTarget.Port] {
            RunResolver(job, host, port);
        }).detach();
    } catch (const std::system_error& e) {
        ReportConnect(static_cast<int>(TTcpState::Failed),
                      ConnectFailureText(FTarget.Host, FTarget.Port, e.code().value(), 0));
        return false;
    }
    if (TEvent::WaitAny({&FCloseEvent, job->Done.get()}, -1) != 1) {
        return false;
    }
    std::lock_guard g(job->Lock);
    if (job->Error != 0 || job->Addresses.empty()) {
        ReportConnect(static_cast<int>(TTcpState::NameNotFound),
                      NameFailureText(FTarget.Host, job->Error != 0 ? job->Error : EAI_NONAME));
        return false;
    }
    addresses = std::move(job->Addresses);
    return true;
}

bool TTcpSession::Connect(const std::vector<TTcpAddress>& addresses, int& fd) {
    // The most telling failure is kept: a refusal says more than a missing route to another
    // address of the same name.
    int reported = 0;
    for (const TTcpAddress& address : addresses) {
        int error = 0;
        fd = TryConnect(address, error);
        if (fd >= 0) {
            return true;
        }
        if (error == ECANCELED) {
            return false;
        }
        if (reported == 0 || error == ECONNREFUSED) {
            reported = error;
        }
    }
    ReportConnect(
        static_cast<int>(ConnectErrorState(reported)),
        ConnectFailureText(FTarget.Host, FTarget.Port, reported, FTarget.ConnectTimeoutMs));
    return false;
}

int TTcpSession::TryConnect(const TTcpAddress& address, int& error) const {
    const int fd = ::socket(address.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.Address), address.Size) != 0) {
        error = errno;
    }
    if (error == EINPROGRESS) {
        error = AwaitConnect(fd);
    }
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    // Requests are a few bytes each: they must leave at once, not wait for more.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    return fd;
}

int TTcpSession::AwaitConnect(int fd) const {
    pollfd fds[2] = {{fd, POLLOUT, 0}, {FCloseEvent.Fd(), POLLIN, 0}};
    int n = 0;
    do {
        n = ::poll(fds, 2, FTarget.ConnectTimeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno;
    }
    if (n == 0) {
        return ETIMEDOUT;
    }
    if (fds[1].revents != 0) {
        return ECANCELED;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

void TTcpSession::Serve(int fd) {
    std::string pending;
    bool reportIdle = true;
    for (;;) {
        if (pending.empty() && reportIdle) {
            FSendIdleFlag.store(true);
            if (!FNotifyTarget.Post(NotifySendDataEmpty)) {
                ReportDrop(ENOMEM);
                return;
            }
            reportIdle = false;
        }
        const short out = pending.empty() ? 0 : POLLOUT;
        pollfd fds[3] = {{fd, static_cast<short>(POLLIN | out), 0},
                         {FCloseEvent.Fd(), POLLIN, 0},
                         {FWake->Fd(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            ReportDrop(errno);
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[2].revents != 0 && TakeQueued(pending)) {
            reportIdle = true;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !ReadSome(fd)) {
            return;
        }
        if (!pending.empty() && !Flush(fd, pending)) {
            return;
        }
    }
}

bool TTcpSession::TakeQueued(std::string& pending) {
    // Cleared before the queue is looked at, so no block posted meanwhile is missed.
    FWake->Clear();
    std::lock_guard g(FLock);
    if (FQueue.empty()) {
        return false;
    }
    while (!FQueue.empty()) {
        pending += FQueue.front();
        FQueue.pop_front();
    }
    FSendIdleFlag.store(false);
    return true;
}

bool TTcpSession::ReadSome(int fd) {
    char buffer[kChunkSize];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
        if (!FNotifyTarget.Post(NotifyReceiveData, static_cast<std::uint32_t>(n),
                                std::string(buffer, static_cast<std::size_t>(n)))) {
            ReportDrop(ENOMEM);
            return false;
        }
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    ReportDrop(n == 0 ? 0 : errno);
    return false;
}

bool TTcpSession::Flush(int fd, std::string& pending) {
    const ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
    if (n >= 0) {
        pending.erase(0, static_cast<std::size_t>(n));
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return true;
    }
    ReportDrop(errno);
    return false;
}
