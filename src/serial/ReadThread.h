// The receive side of an open port: collects bursts into chunks of 1 to 2048 bytes,
// watches the line-event counters, and reports everything through the notifier.
#pragma once

#include "serial/NotifyQueue.h"

#include <cstdint>
#include <thread>

class TSerialDevice;
class TEvent;
struct TLineCounters;
enum class TWaitStatus : std::uint8_t;

class TReadThread {
public:
    static constexpr std::size_t kChunkSize = 2048;
    // How often the line-event counters are sampled where the driver keeps them.
    static constexpr int kCounterPeriodMs = 20;

    TReadThread(TSerialDevice& device, const TEvent& closeEvent, TNotifier notifier)
        : FCommHandle(device), FCloseEvent(closeEvent), FNotifyTarget(notifier) {}
    ~TReadThread();
    TReadThread(const TReadThread&) = delete;
    TReadThread& operator=(const TReadThread&) = delete;

    // Throws std::system_error when no thread can be created.
    void Start();
    // Returns once the body has ended; the close event must be set first.
    void Join();

private:
    // What the loop of the thread body carries from one round to the next.
    struct TLoopState;

    // The thread body.
    void Execute();
    // The steps of one round of its loop; each returns false when the thread is to end.
    bool SampleLines(TLoopState& s);
    bool DeliverDueChunk(TLoopState& s);
    static int NextWaitTimeout(const TLoopState& s);
    bool HandleWait(TLoopState& s, TWaitStatus waited);
    bool ReadAvailable(TLoopState& s);
    bool DeliverData(const char* buffer, std::size_t count);
    void DeliverThenHangup(const char* buffer, std::size_t count);
    bool HandleCounters(const TLineCounters& before, const TLineCounters& now);
    void PostHangup();

    TSerialDevice& FCommHandle;
    const TEvent& FCloseEvent;
    TNotifier FNotifyTarget;
    std::thread FThread;
};
