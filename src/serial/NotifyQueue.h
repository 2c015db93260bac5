// Carries the reader's and writer's reports to the thread that owns the component.
// Posting only takes a mutex for the push and, when the queue was empty, sets one
// wake-up event that the owner's event loop watches; it never waits for the owner.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QSocketNotifier;
class TEvent;
class THangup;

enum TNotifyCode : int {
    NotifyReceiveData = 1025,
    NotifyReceiveError = 1026,
    NotifyRequestHangup = 1027,
    NotifyModemStateChange = 1028,
    NotifySendDataEmpty = 1029,
};

struct TNotice {
    int Code = 0;
    std::uint32_t Param = 0;
    std::string Data; // received bytes; freed when the notice is
    std::uint64_t Period = 0;
};

class TNotifyQueue {
public:
    using THandler = std::function<void(const TNotice&)>;
    // Must be created on the owner's thread; the handler runs there. Throws
    // std::runtime_error when the system refuses the wake-up event.
    explicit TNotifyQueue(THandler handler);
    ~TNotifyQueue();
    TNotifyQueue(const TNotifyQueue&) = delete;
    TNotifyQueue& operator=(const TNotifyQueue&) = delete;

    // A new open period; notices of earlier periods are dropped, not dispatched.
    std::uint64_t BeginPeriod();
    void EndPeriod();

    // From any thread. False only when the notice could not be stored.
    bool Post(std::uint64_t period, int code, std::uint32_t param = 0, std::string data = {});

    // Runs on the owner's thread: dispatches every queued notice of the current period, in order.
    void Drain();

private:
    THandler FHandler;
    // The wake-up is a descriptor, not a posted Qt event: nothing allocated on a
    // serial thread is handed to the owner through code the race checker cannot see.
    std::unique_ptr<TEvent> FWake;
    std::unique_ptr<QSocketNotifier> FWakeWatch;
    std::mutex FLock;
    std::deque<TNotice> FQueue;
    std::uint64_t FPeriod = 0;     // owner's thread only
    std::uint64_t FNextPeriod = 1; // owner's thread only
};

// A poster bound to one open period, handed to the threads.
class TNotifier {
public:
    TNotifier(TNotifyQueue& queue, std::uint64_t period, THangup& hangup)
        : FQueue(queue), FPeriod(period), FHangup(hangup) {}
    bool Post(int code, std::uint32_t param = 0, std::string data = {}) const {
        return FQueue.Post(FPeriod, code, param, std::move(data));
    }
    // Reports the loss of the line, unless the other thread already has.
    void PostHangup() const;
    const THangup& Hangup() const { return FHangup; }

private:
    TNotifyQueue& FQueue;
    std::uint64_t FPeriod;
    THangup& FHangup;
};
