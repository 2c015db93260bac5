#include "StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int StopSignalNumbers[] = {SIGINT, SIGTERM, SIGHUP};

// A handler may do next to nothing: it counts and wakes the event loop through a pipe.
std::atomic<int> SignalCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may touch it");
int WakeRead = -1;
int WakeWrite = -1;

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    SignalCount.fetch_add(1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakeWrite, &byte, 1);
    errno = saved;
}

void SetHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep the event loop and the port's threads out of EINTR paths.
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

TStopSignals::TStopSignals(std::function<void(int count)> onSignal)
    : FOnSignal(std::move(onSignal)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    WakeRead = fds[0];
    WakeWrite = fds[1];
    SignalCount.store(0);
    FNotifier = std::make_unique<QSocketNotifier>(WakeRead, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { Deliver(); });
    SetHandler(SIGPIPE, SIG_IGN);
    for (const int signal : StopSignalNumbers) {
        SetHandler(signal, OnStopSignal);
    }
}

TStopSignals::~TStopSignals() {
    if (!FNotifier) {
        return;
    }
    for (const int signal : StopSignalNumbers) {
        SetHandler(signal, SIG_DFL);
    }
    FNotifier.reset();
    ::close(WakeRead);
    ::close(WakeWrite);
    WakeRead = WakeWrite = -1;
}

void TStopSignals::Deliver() {
    char drain[64];
    while (::read(WakeRead, drain, sizeof drain) > 0) {
    }
    if (FOnSignal) {
        FOnSignal(SignalCount.load());
    }
}
