// A manual-reset event that a poll() can wait on: once set it stays set until
// cleared, so every thread that includes it in its waits sees the stop.
#pragma once

#include <initializer_list>
#include <memory>

class TEvent {
public:
    // Null when the system refuses a new descriptor.
    static std::unique_ptr<TEvent> Create();
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Clear();
    bool IsSet() const;
    int Fd() const { return FFd; }

    // Index of the first set event in the list, kWaitTimedOut, or kWaitFailed.
    // A negative timeout waits for ever.
    static constexpr int kWaitTimedOut = -1;
    static constexpr int kWaitFailed = -2;
    static int WaitAny(std::initializer_list<const TEvent*> events, int timeoutMs);

private:
    struct TPrivate {};

public:
    TEvent(TPrivate, int fd) : FFd(fd) {}

private:
    int FFd;
};
