// The serial device on a Linux tty: exclusive open, raw termios, poll-based waits.
#pragma once

#include "platform/RxFilter.h"
#include "platform/SerialDevice.h"
#include "platform/TermState.h"

#include <atomic>

class TPosixSerialDevice final : public TSerialDevice {
public:
    TPosixSerialDevice() = default;
    ~TPosixSerialDevice() override;
    TPosixSerialDevice(const TPosixSerialDevice&) = delete;
    TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

    TOpenResult Open(const std::string& path) override;
    void Close() override;
    bool ApplyLineSettings(const TLineSettings& settings) override;
    bool ApplyTimeouts(const TCommTimeouts& timeouts) override;
    std::uint32_t ReadInterval() const override { return FReadInterval.load(); }
    TWaitStatus Wait(TWaitFor what, const TEvent& stop, int timeoutMs) override;
    TIoResult Read(char* buffer, std::size_t capacity) override;
    TIoResult Write(const char* data, std::size_t length) override;
    void Purge(TPurge direction) override;
    TCounterStatus LineCounters(TLineCounters& counters) override;

private:
    int FFd = -1;
    TTermState FSaved;
    bool FRs485Set = false;
    std::atomic<std::uint32_t> FReadInterval{100};
    std::atomic<std::uint32_t> FRxConfig{0};
    TRxFilter FRxFilter; // the reader's own
};
