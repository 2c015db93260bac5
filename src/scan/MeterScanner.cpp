#include "scan/MeterScanner.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"

TMeterScanner::TMeterScanner(TDeviceFactory factory) : FFactory(std::move(factory)) {}

TMeterScanner::~TMeterScanner() {
    Cancel();
}

bool TMeterScanner::Start(const std::string& path, const QString& portName, TScanPlan plan) {
    if (Running())
        return false;
    Join();
    FStop = TEvent::Create();
    if (!FStop)
        return false;
    {
        std::lock_guard g(FLock);
        FStatus = TScanStatus{};
        FRunning = true;
    }
    FThread = std::thread([this, path, portName, plan = std::move(plan)]() mutable {
        std::unique_ptr<TSerialDevice> device = FFactory();
        const TScanStatus last =
            RunScan(*device, path, portName, std::move(plan), *FStop, [this](const TScanStatus& s) {
                std::lock_guard g(FLock);
                FStatus = s;
            });
        device.reset(); // closed before the window hears that the scan is over
        std::lock_guard g(FLock);
        FStatus = last;
        FRunning = false;
    });
    return true;
}

void TMeterScanner::Cancel() {
    if (FStop)
        FStop->Set();
    Join();
}

void TMeterScanner::Join() {
    if (FThread.joinable())
        FThread.join();
}

bool TMeterScanner::Running() const {
    std::lock_guard g(FLock);
    return FRunning;
}

TScanStatus TMeterScanner::Status() const {
    std::lock_guard g(FLock);
    return FStatus;
}
