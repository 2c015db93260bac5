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

void TReadThread::Execute() {
    RaiseCurrentThreadPriority(2);
    char buffer[kChunkSize];
    std::size_t count = 0;
    TClock::time_point chunkDeadline{};

    TLineCounters counters;
    bool watchLines = false;
    switch (FCommHandle.LineCounters(counters)) {
    case TCounterStatus::Ok:
        watchLines = true;
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
    TClock::time_point nextSample = TClock::now() + std::chrono::milliseconds(kCounterPeriodMs);

    // What ends the loop: the close event, a vanished device, or an empty read.
    bool running = true;
    bool waitTimedOut = false;
    while (running && !FCloseEvent.IsSet()) {
        TClock::time_point now = TClock::now();
        // A quiet moment is also a good moment to look at the line.
        if (watchLines && (now >= nextSample || waitTimedOut)) {
            TLineCounters latest;
            switch (FCommHandle.LineCounters(latest)) {
            case TCounterStatus::Ok:
                if (!HandleCounters(counters, latest)) {
                    running = false;
                    continue;
                }
                counters = latest;
                break;
            case TCounterStatus::Unsupported:
                watchLines = false;
                break;
            case TCounterStatus::Invalid:
                running = false;
                continue;
            case TCounterStatus::Fatal:
                DeliverThenHangup(buffer, count);
                running = false;
                continue;
            }
            nextSample = now + std::chrono::milliseconds(kCounterPeriodMs);
        }
        if (count > 0 && now >= chunkDeadline) {
            if (!DeliverData(buffer, count)) {
                break;
            }
            count = 0;
        }

        int timeout = -1;
        if (count > 0) {
            timeout = MillisUntil(chunkDeadline, now);
        }
        if (watchLines) {
            const int untilSample = MillisUntil(nextSample, now);
            timeout = timeout < 0 ? untilSample : std::min(timeout, untilSample);
        }

        const TWaitStatus waited = FCommHandle.Wait(TWaitFor::Readable, FCloseEvent, timeout);
        waitTimedOut = waited == TWaitStatus::TimedOut;
        switch (waited) {
        case TWaitStatus::Stopped:
        case TWaitStatus::Invalid:
            running = false;
            break;
        case TWaitStatus::Fatal:
            DeliverThenHangup(buffer, count);
            running = false;
            break;
        case TWaitStatus::TimedOut:
            break;
        case TWaitStatus::Ready: {
            const TIoResult r = FCommHandle.Read(buffer + count, kChunkSize - count);
            switch (r.Status) {
            case TIoStatus::Ok: {
                count += r.Count;
                const std::uint32_t interval = FCommHandle.ReadInterval();
                chunkDeadline = TClock::now() + std::chrono::milliseconds(interval);
                // 0 and the all-ones value both mean "return what is there at once".
                if (count == kChunkSize || interval == 0 || interval == UINT32_MAX) {
                    if (!DeliverData(buffer, count)) {
                        running = false;
                    }
                    count = 0;
                }
                break;
            }
            case TIoStatus::WouldBlock:
                break;
            case TIoStatus::Empty:
                // Nothing to report: the bytes of the burst so far still go out.
                if (count > 0) {
                    DeliverData(buffer, count);
                }
                running = false;
                break;
            case TIoStatus::Invalid:
                running = false;
                break;
            case TIoStatus::Fatal:
                DeliverThenHangup(buffer, count);
                running = false;
                break;
            }
            break;
        }
        }
    }
    // Whatever the driver still holds belongs to nobody now.
    FCommHandle.Purge(TPurge::Rx);
}
