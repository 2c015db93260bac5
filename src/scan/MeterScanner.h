// A Find Meter scan on its own thread, for a window: it starts the runner, keeps the latest
// status for the window to read, and stops it on request, closing the port before Cancel
// returns.
#pragma once

#include "scan/ScanRunner.h"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TEvent;
class TSerialDevice;

class TMeterScanner {
public:
    using TDeviceFactory = std::function<std::unique_ptr<TSerialDevice>()>;

    explicit TMeterScanner(TDeviceFactory factory);
    ~TMeterScanner();
    TMeterScanner(const TMeterScanner&) = delete;
    TMeterScanner& operator=(const TMeterScanner&) = delete;

    // False when a scan is already running or no stop event could be made.
    bool Start(const std::string& path, const QString& portName, TScanPlan plan);
    // Stops the scan and waits for its thread: the port is closed when this returns.
    void Cancel();
    bool Running() const;
    // The latest status (End is Running while the scan goes on).
    TScanStatus Status() const;

private:
    void Join();

    TDeviceFactory FFactory;
    std::unique_ptr<TEvent> FStop;
    std::thread FThread;
    mutable std::mutex FLock;
    TScanStatus FStatus;
    bool FRunning = false;
};
