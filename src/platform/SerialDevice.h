// The narrow device interface the serial component and its threads are written
// against: one POSIX implementation for real ports, one scripted fake for tests.
#pragma once

#include "platform/SerialLine.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TEvent;

enum class TOpenStatus : std::uint8_t { Ok, OpenFailed, NotComm, SetupFailed };
struct TOpenResult {
    TOpenStatus Status = TOpenStatus::Ok;
    int Error = 0; // errno of the failing call, 0 if none
};

// Ok: Count bytes moved. WouldBlock: nothing yet, wait. Empty: a read that returned
// nothing although the device was readable. Invalid: the descriptor is gone (a
// thread then ends quietly). Fatal: the device vanished or failed.
enum class TIoStatus : std::uint8_t { Ok, WouldBlock, Empty, Invalid, Fatal };
struct TIoResult {
    TIoStatus Status = TIoStatus::Ok;
    std::size_t Count = 0;
    int Error = 0;
};

enum class TWaitFor : std::uint8_t { Readable, Writable };
enum class TWaitStatus : std::uint8_t { Ready, Stopped, TimedOut, Invalid, Fatal };

enum class TPurge : std::uint8_t { Rx, Tx };

// Running totals of the line events the driver has seen since the port was opened.
struct TLineCounters {
    std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
    std::uint32_t Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
    bool operator==(const TLineCounters&) const = default;
};
enum class TCounterStatus : std::uint8_t { Ok, Unsupported, Invalid, Fatal };

class TSerialDevice {
public:
    virtual ~TSerialDevice() = default;

    // Opens the resolved path exclusively. Called once per device object.
    virtual TOpenResult Open(const std::string& path) = 0;
    // Restores what Open changed and releases the port; harmless when not open.
    virtual void Close() = 0;

    // Both return false when the driver refused; the port then keeps its settings. A single
    // line setting the driver cannot take (1.5 stop bits, 0 bit/s) also gives false, but only
    // that setting keeps its value: raw mode and the rest are applied all the same.
    virtual bool ApplyLineSettings(const TLineSettings& settings) = 0;
    virtual bool ApplyTimeouts(const TCommTimeouts& timeouts) = 0;
    // The silence, in ms, that closes a received chunk. Safe from any thread.
    virtual std::uint32_t ReadInterval() const = 0;

    // Waits until the device is ready for `what`, `stop` is set, or the timeout
    // passes (negative: no timeout). Called by one thread per direction.
    virtual TWaitStatus Wait(TWaitFor what, const TEvent& stop, int timeoutMs) = 0;
    virtual TIoResult Read(char* buffer, std::size_t capacity) = 0;
    virtual TIoResult Write(const char* data, std::size_t length) = 0;
    virtual void Purge(TPurge direction) = 0;
    virtual TCounterStatus LineCounters(TLineCounters& counters) = 0;
};
