// Keeps the communication statistics of the link: counters since the connect, response times,
// query rate and line share, the frame log, and what the likely cause of the line's state is.
// It hears of the traffic as the link's observer; recording is cheap (counters and a copy of
// the bytes into a ring), everything shown is worked out only when asked for.
#pragma once

#include "comms/CommCounters.h"
#include "comms/FrameLog.h"
#include "comms/LineLoad.h"
#include "comms/LineVerdict.h"
#include "comms/ResponseTimes.h"
#include "link/TrafficObserver.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

class TCommMonitor final : public ITrafficObserver {
public:
    // Microseconds on a steady clock, and milliseconds since the epoch for the log.
    struct TClock {
        std::function<std::int64_t()> SteadyUs;
        std::function<std::int64_t()> WallMs;
    };
    static TClock SystemClock();

    explicit TCommMonitor(TClock clock = SystemClock(),
                          std::size_t logCapacity = TFrameLog::DefaultCapacity);

    // ITrafficObserver
    void FrameSent(const std::string& frame, const TLineShape& line) override;
    void DataReceived(const std::string& data) override;
    void LineErrors(std::uint32_t flags) override;
    void QueryEnded(const TQueryEnd& end) override;
    void PollingEnded() override;

    // Counters, timing and verdict back to nothing (the log stays).
    void Reset();

    const TCommCounters& Counters() const { return FCounters; }
    TTimingFigures Timing() const { return FTimes.Figures(); }
    double QueriesPerSecond() const { return FLoad.QueriesPerSecond(); }
    double LineShare() const { return FLoad.LineShare(); }
    // The baud rate of the last frame sent (0 before any).
    int Baudrate() const { return FBaudrate; }
    TLineSummary Summary() const;
    TLineVerdict Verdict() const { return JudgeLine(Summary()); }
    const TFrameLog& Log() const { return FLog; }
    void ClearLog() { FLog.Clear(); }

    // How many recent queries the verdict looks at, overall and at each scan interval.
    static constexpr std::size_t RecentQueries = 50;
    static constexpr std::size_t RecentPerInterval = 100;

private:
    struct TPending {
        std::int64_t SentUs = 0;
        std::int64_t LastByteUs = 0;
        std::int64_t LastByteWallMs = 0;
        std::int64_t RequestUs = 0; // the request's own time on the line
        std::uint32_t LineErrors = 0;
        int QueryInterval = 0;
        // The first query after the scan interval changed: it still follows the old pace.
        bool IntervalChanged = false;
    };
    struct TRecent {
        TFrameOutcome Outcome;
        int ExceptionCode;
        std::size_t BytesReceived;
        std::uint32_t LineErrors;
        int ForeignAddress;
        bool StrayBytes;
    };

    TClock FClock;
    TCommCounters FCounters;
    TResponseTimes FTimes;
    TLineLoad FLoad;
    TFrameLog FLog;
    std::deque<TRecent> FRecent;
    // The recent queries at each scan interval: true for a time-out.
    std::map<int, std::deque<bool>> FByInterval;
    int FQueryInterval = 0;
    int FBaudrate = 0;
    TPending FPending;
    bool FInQuery = false;
    bool FFreshStart = false;
};
