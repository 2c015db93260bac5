// A scripted serial device for tests: the test queues what the line does (bytes,
// line events, failures) and inspects what was written and configured. The
// script lives in a shared TFakeLine, so it outlives the device the component owns.
#pragma once

#include "platform/SerialDevice.h"
#include "platform/TermState.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TEvent;

struct TFakeReadStep {
    enum class TKind : std::uint8_t { Bytes, ReadFails, WaitFails, Counters };
    TKind Kind = TKind::Bytes;
    std::string Data;                            // Bytes: what the next reads return
    TIoStatus ReadStatus = TIoStatus::Fatal;     // ReadFails: Empty, Invalid or Fatal
    TWaitStatus WaitStatus = TWaitStatus::Fatal; // WaitFails: Invalid or Fatal
    TLineCounters Counters;                      // Counters: the driver's new totals
    TCounterStatus CounterStatus = TCounterStatus::Ok;

    static TFakeReadStep Bytes(std::string data);
    static TFakeReadStep ReadFails(TIoStatus status);
    static TFakeReadStep WaitFails(TWaitStatus status);
    static TFakeReadStep NewCounters(const TLineCounters& counters,
                                     TCounterStatus status = TCounterStatus::Ok);
};

class TFakeLine {
public:
    TFakeLine();
    ~TFakeLine();
    TFakeLine(const TFakeLine&) = delete;
    TFakeLine& operator=(const TFakeLine&) = delete;

    // Script of the receive side, consumed in order by the reader's waits and reads.
    void Push(TFakeReadStep step);

    // Write behaviour: at most this many bytes per call (0: all); statuses that the
    // next write calls return instead of writing (Ok means "0 bytes written").
    void SetWriteLimit(std::size_t limit);
    void PushWriteFailure(TIoStatus status);
    // While false, writes would block and the writer waits (as on a full driver queue).
    void SetWritable(bool writable);

    // A device on the line that hears every complete block written, at the line settings in
    // force, and answers with read steps (bytes, new counters) queued behind the script.
    using TResponder =
        std::function<std::vector<TFakeReadStep>(const std::string&, const TLineSettings&)>;
    void SetResponder(TResponder responder);

    void SetOpenResult(TOpenResult result);
    void SetCountersSupported(bool supported);

    // True once the reader has taken every step of the script (bytes it holds in an open
    // burst included).
    bool ReadScriptEmpty() const;

    // What the component did.
    std::string Written() const;
    std::vector<std::size_t> WriteCalls() const; // offset into the block of each call
    std::string OpenedPath() const;
    int OpenCount() const;
    int CloseCount() const;
    int LineSettingsCalls() const;
    int TimeoutCalls() const;
    int PurgeCount(TPurge direction) const;
    TLineSettings LastLineSettings() const;
    TCommTimeouts LastTimeouts() const;
    TTermState Term() const;
    bool IsOpen() const;

private:
    friend class TFakeSerialDevice;
    mutable std::mutex FLock;
    std::unique_ptr<TEvent> FScriptChanged;
    std::unique_ptr<TEvent> FWritableChanged;
    bool FWritable = true;
    std::deque<TFakeReadStep> FReadScript;
    std::size_t FBlockOffset = 0; // bytes of the current block already written
    std::size_t FWriteLimit = 0;
    std::deque<TIoStatus> FWriteFailures;
    TOpenResult FOpenResult;
    TResponder FResponder;
    TCounterStatus FCounterStatus = TCounterStatus::Ok;
    TLineCounters FCounters;
    std::string FWritten;
    std::vector<std::size_t> FWriteCalls;
    std::string FOpenedPath;
    int FOpenCount = 0, FCloseCount = 0, FLineCalls = 0, FTimeoutCalls = 0;
    int FPurgeRx = 0, FPurgeTx = 0;
    TLineSettings FLastLine;
    TCommTimeouts FLastTimeouts;
    TTermState FTerm;
    bool FOpen = false;
    std::uint32_t FReadInterval = 100;
};

class TFakeSerialDevice final : public TSerialDevice {
public:
    explicit TFakeSerialDevice(std::shared_ptr<TFakeLine> line) : FLine(std::move(line)) {}
    ~TFakeSerialDevice() override;

    TOpenResult Open(const std::string& path) override;
    void Close() override;
    bool ApplyLineSettings(const TLineSettings& settings) override;
    bool ApplyTimeouts(const TCommTimeouts& timeouts) override;
    std::uint32_t ReadInterval() const override;
    TWaitStatus Wait(TWaitFor what, const TEvent& stop, int timeoutMs) override;
    TIoResult Read(char* buffer, std::size_t capacity) override;
    TIoResult Write(const char* data, std::size_t length) override;
    void Purge(TPurge direction) override;
    TCounterStatus LineCounters(TLineCounters& counters) override;

private:
    std::shared_ptr<TFakeLine> FLine;
};
