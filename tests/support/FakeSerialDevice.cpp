#include "support/FakeSerialDevice.h"

#include "platform/Event.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

TFakeReadStep TFakeReadStep::Bytes(std::string data) {
    TFakeReadStep s;
    s.Kind = TKind::Bytes;
    s.Data = std::move(data);
    return s;
}

TFakeReadStep TFakeReadStep::ReadFails(TIoStatus status) {
    TFakeReadStep s;
    s.Kind = TKind::ReadFails;
    s.ReadStatus = status;
    return s;
}

TFakeReadStep TFakeReadStep::WaitFails(TWaitStatus status) {
    TFakeReadStep s;
    s.Kind = TKind::WaitFails;
    s.WaitStatus = status;
    return s;
}

TFakeReadStep TFakeReadStep::NewCounters(const TLineCounters& counters, TCounterStatus status) {
    TFakeReadStep s;
    s.Kind = TKind::Counters;
    s.Counters = counters;
    s.CounterStatus = status;
    return s;
}

TFakeLine::TFakeLine() : FScriptChanged(TEvent::Create()), FWritableChanged(TEvent::Create()) {
    if (!FScriptChanged || !FWritableChanged) {
        throw std::runtime_error("no descriptor for the fake line");
    }
}

TFakeLine::~TFakeLine() = default;

void TFakeLine::Push(TFakeReadStep step) {
    {
        std::lock_guard g(FLock);
        FReadScript.push_back(std::move(step));
    }
    FScriptChanged->Set();
}

bool TFakeLine::ReadScriptEmpty() const {
    std::lock_guard g(FLock);
    return FReadScript.empty();
}

void TFakeLine::SetWriteLimit(std::size_t limit) {
    std::lock_guard g(FLock);
    FWriteLimit = limit;
}

void TFakeLine::PushWriteFailure(TIoStatus status) {
    std::lock_guard g(FLock);
    FWriteFailures.push_back(status);
}

void TFakeLine::SetWritable(bool writable) {
    {
        std::lock_guard g(FLock);
        FWritable = writable;
    }
    FWritableChanged->Set();
}

void TFakeLine::SetResponder(TResponder responder) {
    std::lock_guard g(FLock);
    FResponder = std::move(responder);
}

void TFakeLine::SetOpenResult(TOpenResult result) {
    std::lock_guard g(FLock);
    FOpenResult = result;
}

void TFakeLine::SetCountersSupported(bool supported) {
    std::lock_guard g(FLock);
    FCounterStatus = supported ? TCounterStatus::Ok : TCounterStatus::Unsupported;
}

std::string TFakeLine::Written() const {
    std::lock_guard g(FLock);
    return FWritten;
}

std::vector<std::size_t> TFakeLine::WriteCalls() const {
    std::lock_guard g(FLock);
    return FWriteCalls;
}

std::string TFakeLine::OpenedPath() const {
    std::lock_guard g(FLock);
    return FOpenedPath;
}

int TFakeLine::OpenCount() const {
    std::lock_guard g(FLock);
    return FOpenCount;
}

int TFakeLine::CloseCount() const {
    std::lock_guard g(FLock);
    return FCloseCount;
}

int TFakeLine::LineSettingsCalls() const {
    std::lock_guard g(FLock);
    return FLineCalls;
}

int TFakeLine::TimeoutCalls() const {
    std::lock_guard g(FLock);
    return FTimeoutCalls;
}

TLineSettings TFakeLine::LastLineSettings() const {
    std::lock_guard g(FLock);
    return FLastLine;
}

TCommTimeouts TFakeLine::LastTimeouts() const {
    std::lock_guard g(FLock);
    return FLastTimeouts;
}

TTermState TFakeLine::Term() const {
    std::lock_guard g(FLock);
    return FTerm;
}

bool TFakeLine::IsOpen() const {
    std::lock_guard g(FLock);
    return FOpen;
}

int TFakeLine::PurgeCount(TPurge direction) const {
    std::lock_guard g(FLock);
    return direction == TPurge::Rx ? FPurgeRx : FPurgeTx;
}

TFakeSerialDevice::~TFakeSerialDevice() {
    Close();
}

TOpenResult TFakeSerialDevice::Open(const std::string& path) {
    std::lock_guard g(FLine->FLock);
    FLine->FOpenedPath = path;
    if (FLine->FOpenResult.Status == TOpenStatus::Ok) {
        ++FLine->FOpenCount;
        FLine->FOpen = true;
    }
    return FLine->FOpenResult;
}

void TFakeSerialDevice::Close() {
    std::lock_guard g(FLine->FLock);
    if (FLine->FOpen) {
        FLine->FOpen = false;
        ++FLine->FCloseCount;
    }
}

bool TFakeSerialDevice::ApplyLineSettings(const TLineSettings& settings) {
    std::lock_guard g(FLine->FLock);
    ++FLine->FLineCalls;
    FLine->FLastLine = settings;
    return MapLineSettings(settings, FLine->FTerm);
}

bool TFakeSerialDevice::ApplyTimeouts(const TCommTimeouts& timeouts) {
    std::lock_guard g(FLine->FLock);
    ++FLine->FTimeoutCalls;
    FLine->FLastTimeouts = timeouts;
    FLine->FReadInterval = timeouts.ReadIntervalTimeout;
    return true;
}

std::uint32_t TFakeSerialDevice::ReadInterval() const {
    std::lock_guard g(FLine->FLock);
    return FLine->FReadInterval;
}

TWaitStatus TFakeSerialDevice::Wait(TWaitFor what, const TEvent& stop, int timeoutMs) {
    for (;;) {
        if (stop.IsSet()) {
            return TWaitStatus::Stopped;
        }
        if (what == TWaitFor::Writable) {
            {
                std::lock_guard g(FLine->FLock);
                FLine->FWritableChanged->Clear();
                if (FLine->FWritable) {
                    return TWaitStatus::Ready;
                }
            }
            const int r = TEvent::WaitAny({&stop, FLine->FWritableChanged.get()}, timeoutMs);
            if (r == TEvent::kWaitTimedOut) {
                return TWaitStatus::TimedOut;
            }
            if (r == TEvent::kWaitFailed) {
                return TWaitStatus::Fatal;
            }
            continue;
        }
        {
            std::lock_guard g(FLine->FLock);
            // Clear before looking, so that a step pushed after the look wakes the wait below.
            FLine->FScriptChanged->Clear();
            if (!FLine->FReadScript.empty()) {
                TFakeReadStep& step = FLine->FReadScript.front();
                switch (step.Kind) {
                case TFakeReadStep::TKind::Bytes:
                case TFakeReadStep::TKind::ReadFails:
                    return TWaitStatus::Ready;
                case TFakeReadStep::TKind::WaitFails: {
                    const TWaitStatus s = step.WaitStatus;
                    FLine->FReadScript.pop_front();
                    return s;
                }
                case TFakeReadStep::TKind::Counters:
                    // The reader samples the counters when its wait times out.
                    FLine->FCounters = step.Counters;
                    FLine->FCounterStatus = step.CounterStatus;
                    FLine->FReadScript.pop_front();
                    return TWaitStatus::TimedOut;
                }
            }
        }
        const int r = TEvent::WaitAny({&stop, FLine->FScriptChanged.get()}, timeoutMs);
        if (r == TEvent::kWaitTimedOut) {
            return TWaitStatus::TimedOut;
        }
        if (r == TEvent::kWaitFailed) {
            return TWaitStatus::Fatal;
        }
    }
}

TIoResult TFakeSerialDevice::Read(char* buffer, std::size_t capacity) {
    std::lock_guard g(FLine->FLock);
    if (FLine->FReadScript.empty()) {
        return {TIoStatus::WouldBlock, 0, EAGAIN};
    }
    TFakeReadStep& step = FLine->FReadScript.front();
    if (step.Kind == TFakeReadStep::TKind::ReadFails) {
        const TIoStatus s = step.ReadStatus;
        FLine->FReadScript.pop_front();
        return {s, 0, s == TIoStatus::Invalid ? EBADF : EIO};
    }
    if (step.Kind != TFakeReadStep::TKind::Bytes) {
        return {TIoStatus::WouldBlock, 0, EAGAIN};
    }
    const std::size_t n = std::min(capacity, step.Data.size());
    std::memcpy(buffer, step.Data.data(), n);
    step.Data.erase(0, n);
    if (step.Data.empty()) {
        FLine->FReadScript.pop_front();
    }
    return {TIoStatus::Ok, n, 0};
}

TIoResult TFakeSerialDevice::Write(const char* data, std::size_t length) {
    std::lock_guard g(FLine->FLock);
    if (!FLine->FWriteFailures.empty()) {
        const TIoStatus s = FLine->FWriteFailures.front();
        FLine->FWriteFailures.pop_front();
        return {s, 0, s == TIoStatus::Invalid ? EBADF : (s == TIoStatus::Fatal ? EIO : 0)};
    }
    if (!FLine->FWritable) {
        return {TIoStatus::WouldBlock, 0, EAGAIN};
    }
    std::size_t n = length;
    if (FLine->FWriteLimit != 0) {
        n = std::min(n, FLine->FWriteLimit);
    }
    FLine->FWriteCalls.push_back(FLine->FBlockOffset);
    FLine->FWritten.append(data, n);
    const std::size_t blockStart = FLine->FWritten.size() - n - FLine->FBlockOffset;
    FLine->FBlockOffset = n == length ? 0 : FLine->FBlockOffset + n;
    if (FLine->FResponder && FLine->FBlockOffset == 0) {
        for (TFakeReadStep& step :
             FLine->FResponder(FLine->FWritten.substr(blockStart), FLine->FLastLine))
            FLine->FReadScript.push_back(std::move(step));
        FLine->FScriptChanged->Set();
    }
    return {TIoStatus::Ok, n, 0};
}

void TFakeSerialDevice::Purge(TPurge direction) {
    std::lock_guard g(FLine->FLock);
    ++(direction == TPurge::Rx ? FLine->FPurgeRx : FLine->FPurgeTx);
}

TCounterStatus TFakeSerialDevice::LineCounters(TLineCounters& counters) {
    std::lock_guard g(FLine->FLock);
    if (FLine->FCounterStatus == TCounterStatus::Ok) {
        counters = FLine->FCounters;
    }
    return FLine->FCounterStatus;
}
