// One open period of a serial port: the device, the event that tells its threads to end, the
// line-lost latch, and the reader and writer threads. TComm keeps the port's settings and
// events across open periods; everything whose lifetime is exactly one OpenPort..ClosePort
// lives here, so that acquiring it in order, releasing it on a failed open and tearing it down
// in the one safe order are kept together and apart from the settings.
#pragma once

#include "platform/SerialDevice.h"
#include "platform/SerialLine.h"

#include <atomic>
#include <cstdint>
#include <memory>

class TEvent;
class THangup;
class TNotifier;
class TNotifyQueue;
class TReadThread;
class TWriteThread;

class TOpenPort {
public:
    // Purges the opened device, applies the time-outs and line settings, and starts both
    // threads reporting into `queue`. Throws ECommsError; on failure everything acquired,
    // `device` included, is released again. `sendIdle` is the writer's flag; both referents
    // must outlive the port.
    TOpenPort(std::unique_ptr<TSerialDevice> device, const TLineSettings& line,
              const TCommTimeouts& timeouts, TNotifyQueue& queue, std::atomic<bool>& sendIdle);
    // Stops the threads, then closes the device and ends the queue's period.
    ~TOpenPort();
    TOpenPort(const TOpenPort&) = delete;
    TOpenPort& operator=(const TOpenPort&) = delete;

    // Queues a copy; false when the writer has ended, the line was reported lost, or Length is 0.
    bool Write(const char* Buffer, std::uint16_t Length);
    void ApplyLineSettings(const TLineSettings& line);
    void ApplyTimeouts(const TCommTimeouts& timeouts);

private:
    // The steps of opening; each throws ECommsError after releasing what it acquired.
    void CreateThreads(const TNotifier& notifier);
    void StartThreads();
    void ReleaseAfterFailedOpen();
    void StopReadThread();
    void StopWriteThread();

    TNotifyQueue& FQueue;
    std::atomic<bool>& FSendIdle;
    std::unique_ptr<TSerialDevice> FDevice;
    std::unique_ptr<TEvent> FCloseEvent;
    std::unique_ptr<THangup> FHangup; // the line lost in this open period
    std::unique_ptr<TReadThread> FReadThread;
    std::unique_ptr<TWriteThread> FWriteThread;
};
