#include "shell/SignalWatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Read end and write end; both non-blocking so neither the handler nor the drain can stall.
int Pipe[2] = {-1, -1};

void Handler(int signal) {
    const int saved = errno;
    const unsigned char code = static_cast<unsigned char>(signal);
    // A full pipe means enough signals are already waiting; dropping this one loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(Pipe[1], &code, 1);
    errno = saved;
}

} // namespace

bool SignalWatch::InstallHandlers() {
    if (Pipe[0] >= 0)
        return true;
    if (::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
    return true;
}

TSignalWatch::TSignalWatch(std::function<void(int)> onSignal) : FOnSignal(std::move(onSignal)) {
    if (!SignalWatch::InstallHandlers())
        return;
    FNotifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { Drain(); });
}

TSignalWatch::~TSignalWatch() = default;

void TSignalWatch::Drain() {
    unsigned char codes[16];
    ssize_t n;
    while ((n = ::read(Pipe[0], codes, sizeof codes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (FOnSignal)
                FOnSignal(codes[i]);
        }
    }
}
