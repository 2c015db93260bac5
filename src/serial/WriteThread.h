// The transmit side of an open port: writes queued blocks completely and in order,
// and reports each time its queue has drained.
#pragma once

#include "serial/NotifyQueue.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TSerialDevice;
class TEvent;

class TWriteThread {
public:
    // Null when the wake-up event cannot be created.
    static std::unique_ptr<TWriteThread> Create(TSerialDevice& device, const TEvent& closeEvent,
                                                TNotifier notifier,
                                                std::atomic<bool>& sendIdleFlag);
    ~TWriteThread();
    TWriteThread(const TWriteThread&) = delete;
    TWriteThread& operator=(const TWriteThread&) = delete;

    // Throws std::system_error when no thread can be created.
    void Start();
    // Returns once the body has ended; the close event must be set first.
    void Join();

    // Any thread. Takes the block; false once the writer has ended.
    bool Post(std::string block);

    // Use Create; the wake-up event is made there so that a refusal is an empty result.
    TWriteThread(TSerialDevice& device, const TEvent& closeEvent, TNotifier notifier,
                 std::atomic<bool>& sendIdleFlag, std::unique_ptr<TEvent> wake);

private:
    // The thread body.
    void Execute();
    bool SendBlock(const std::string& block);
    void PostHangup();

    TSerialDevice& FCommHandle;
    const TEvent& FCloseEvent;
    TNotifier FNotifyTarget;
    std::atomic<bool>& FSendIdleFlag;
    std::unique_ptr<TEvent> FWake;

    std::mutex FLock;
    std::deque<std::string> FQueue;
    bool FEnded = false;
    std::thread FThread;
};
