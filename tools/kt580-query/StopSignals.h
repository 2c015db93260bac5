// The signals that ask kt580-query to end (SIGINT, SIGTERM, SIGHUP), handed to the event loop,
// so that every way out goes through closing the port and its exclusive lock is released.
#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

class TStopSignals {
public:
    // Installs the handlers for the lifetime of the object; onSignal runs on the event loop with
    // the number of stop signals received so far. SIGPIPE is ignored from then on: a closed
    // output pipe shows as a failed write instead of ending the program with the port open.
    explicit TStopSignals(std::function<void(int count)> onSignal);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // False when the handlers could not be installed.
    bool Installed() const { return FNotifier != nullptr; }

private:
    void Deliver();

    std::function<void(int)> FOnSignal;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
