// Turns SIGTERM, SIGINT and SIGHUP into a call on the main thread. The handler only writes the
// signal's number into a pipe; the event loop reads it, so no Qt code runs inside a handler.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace SignalWatch {

// Installs the handlers; from then on the three signals no longer end the process at once but
// wait in the pipe. Call it first thing in the program so a signal that arrives while the
// window is being built is kept, not lost.
bool InstallHandlers();

} // namespace SignalWatch

class TSignalWatch {
public:
    // Calls onSignal(signal number) from the event loop for every signal caught, including
    // those that arrived before it existed. Installs the handlers if that has not happened.
    explicit TSignalWatch(std::function<void(int)> onSignal);
    ~TSignalWatch();
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

private:
    void Drain();

    std::function<void(int)> FOnSignal;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
