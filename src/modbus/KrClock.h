// The time the polling master runs on: one-shot millisecond timers and a blocking sleep on the
// thread that owns the master. The program uses the system clock; tests step a clock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// A one-shot timer: Start arms it (replacing a deadline still pending), and it fires once.
class IOneShotTimer {
public:
    virtual ~IOneShotTimer() = default;
    virtual void Start(int ms) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
};

class IKrClock {
public:
    virtual ~IKrClock() = default;
    // A stopped timer that calls onTimeout on the owner's thread when it fires. The timer never
    // fires after it is destroyed.
    virtual std::unique_ptr<IOneShotTimer> CreateTimer(std::function<void()> onTimeout) = 0;
    // Blocks the calling thread for ms milliseconds; its timers fire only afterwards.
    virtual void Sleep(int ms) = 0;
    // Milliseconds on a monotonic scale of the clock's own: only differences mean anything.
    virtual std::int64_t NowMs() const = 0;
};

// Precise QTimers on the calling thread's event loop and QThread::msleep. One instance serves
// the whole program.
IKrClock& SystemClock();
