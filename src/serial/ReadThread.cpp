#include "serial/ReadThread.h"

#include "serial/LineEvents.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

using TClock = std::chrono::steady_clock;

int MillisUntil(TClock::time_point deadline, TClock::time_point now) {
    if (deadline <= now) {
        return 0;
    }
    // Rounded up: waking before the deadline would only mean another wait.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>((us + 999) / 1000, INT_MAX));
}

} // namespace

TReadThread::~TReadThread() {
    Join();
}

void TReadThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

void TReadThread::Join() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TReadThread::PostHangup() {
    FNotifyTarget.PostHangup();
}

bool TReadThread::DeliverData(const char* buffer, std::size_t count) {
    if (count == 0) {
        return false;
    }
    try {
        if (FNotifyTarget.Post(NotifyReceiveData, static_cast<std::uint32_t>(count),
                               std::string(buffer, count))) {
            return true;
        }
    } catch (const std::bad_alloc&) {
    }
    PostHangup();
    return false;
}

void TReadThread::DeliverThenHangup(const char* buffer, std::size_t count) {
    // A failed delivery has already reported the hang-up: it is reported once.
    if (count == 0 || DeliverData(buffer, count)) {
        PostHangup();
    }
}

bool TReadThread::HandleCounters(const TLineCounters& before, const TLineCounters& now) {
    std::uint32_t errors = 0;
    if (now.Frame != before.Frame) {
        errors |= LineEvents::ErrFrame;
    }
    if (now.Parity != before.Parity) {
        errors |= LineEvents::ErrParity;
    }
    if (now.Overrun != before.Overrun) {
        errors |= LineEvents::ErrOverrun;
    }
    if (now.Brk != before.Brk) {
        errors |= LineEvents::ErrBreak;
    }
    if (now.BufOverrun != before.BufOverrun) {
        errors |= LineEvents::ErrRxOver;
    }
    if (errors != 0 && !FNotifyTarget.Post(NotifyReceiveError, errors)) {
        PostHangup();
        return false;
    }
    std::uint32_t modem = 0;
    if (now.Dcd != before.Dcd || now.Cts != before.Cts) {
        modem |= LineEvents::ModemCtsOrDcd;
    }
    if (now.Ring != before.Ring) {
        modem |= LineEvents::ModemRing;
    }
    if (now.Dsr != before.Dsr) {
        modem |= LineEvents::ModemDsr;
    }
    if (modem != 0 && !FNotifyTarget.Post(NotifyModemStateChange, modem)) {
        PostHangup();
        return false;
    }
    return true;
}

struct TReadThread::TLoopState {
    char Buffer[kChunkSize];
    std::size_t Count = 0; // bytes of the burst collected so far
    TClock::time_point ChunkDeadline{};
    TLineCounters Counters;
    bool WatchLines = false;
    TClock::time_point NextSample{};
    bool WaitTimedOut = false;
    TClock::time_point Now{};
};

void TReadThread::Execute() {
    RaiseCurrentThreadPriority(2);
    TLoopState s;
    switch (FCommHandle.LineCounters(s.Counters)) {
    case TCounterStatus::Ok:
        s.WatchLines = true;
        break;
    case TCounterStatus::Unsupported:
        break;
    case TCounterStatus::Invalid:
        FCommHandle.Purge(TPurge::Rx);
        return;
    case TCounterStatus::Fatal:
        PostHangup();
        FCommHandle.Purge(TPurge::Rx);
        return;
    }
    s.NextSample = TClock::now() + std::chrono::milliseconds(kCounterPeriodMs);

    // What ends the loop: the close event, a vanished device, or an empty read.
    while (!FCloseEvent.IsSet()) {
        s.Now = TClock::now();
        if (!SampleLines(s) || !DeliverDueChunk(s)) {
            break;
        }
        const TWaitStatus waited =
            FCommHandle.Wait(TWaitFor::Readable, FCloseEvent, NextWaitTimeout(s));
        if (!HandleWait(s, waited)) {
            break;
        }
    }
    // Whatever the driver still holds belongs to nobody now.
    FCommHandle.Purge(TPurge::Rx);
}

bool TReadThread::SampleLines(TLoopState& s) {
    // A quiet moment is also a good moment to look at the line.
    if (!s.WatchLines || (s.Now < s.NextSample && !s.WaitTimedOut)) {
        return true;
    }
    TLineCounters latest;
    switch (FCommHandle.LineCounters(latest)) {
    case TCounterStatus::Ok:
        if (!HandleCounters(s.Counters, latest)) {
            return false;
        }
        s.Counters = latest;
        break;
    case TCounterStatus::Unsupported:
        s.WatchLines = false;
        break;
    case TCounterStatus::Invalid:
        return false;
    case TCounterStatus::Fatal:
        DeliverThenHangup(s.Buffer, s.Count);
        return false;
    }
    s.NextSample = s.Now + std::chrono::milliseconds(kCounterPeriodMs);
    return true;
}

bool TReadThread::DeliverDueChunk(TLoopState& s) {
    if (s.Count == 0 || s.Now < s.ChunkDeadline) {
        return true;
    }
    if (!DeliverData(s.Buffer, s.Count)) {
        return false;
    }
    s.Count = 0;
    return true;
}

int TReadThread::NextWaitTimeout(const TLoopState& s) {
    // Without a burst in progress or lines to watch, only bytes or the close event wake it.
    int timeout = -1;
    if (s.Count > 0) {
        timeout = MillisUntil(s.ChunkDeadline, s.Now);
    }
    if (s.WatchLines) {
        const int untilSample = MillisUntil(s.NextSample, s.Now);
        timeout = timeout < 0 ? untilSample : std::min(timeout, untilSample);
    }
    return timeout;
}

bool TReadThread::HandleWait(TLoopState& s, TWaitStatus waited) {
    s.WaitTimedOut = waited == TWaitStatus::TimedOut;
    switch (waited) {
    case TWaitStatus::Stopped:
    case TWaitStatus::Invalid:
        return false;
    case TWaitStatus::Fatal:
        DeliverThenHangup(s.Buffer, s.Count);
        return false;
    case TWaitStatus::TimedOut:
        return true;
    case TWaitStatus::Ready:
        return ReadAvailable(s);
    }
    return true;
}

bool TReadThread::ReadAvailable(TLoopState& s) {
    const TIoResult r = FCommHandle.Read(s.Buffer + s.Count, kChunkSize - s.Count);
    switch (r.Status) {
    case TIoStatus::Ok: {
        s.Count += r.Count;
        const std::uint32_t interval = FCommHandle.ReadInterval();
        s.ChunkDeadline = TClock::now() + std::chrono::milliseconds(interval);
        // 0 and the all-ones value both mean "return what is there at once".
        if (s.Count == kChunkSize || interval == 0 || interval == UINT32_MAX) {
            const bool delivered = DeliverData(s.Buffer, s.Count);
            s.Count = 0;
            return delivered;
        }
        return true;
    }
    case TIoStatus::WouldBlock:
        return true;
    case TIoStatus::Empty:
        // Nothing to report: the bytes of the burst so far still go out.
        if (s.Count > 0) {
            DeliverData(s.Buffer, s.Count);
        }
        return false;
    case TIoStatus::Invalid:
        return false;
    case TIoStatus::Fatal:
        DeliverThenHangup(s.Buffer, s.Count);
        return false;
    }
    return true;
}
