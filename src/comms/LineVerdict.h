// The likely cause of what the counters show, in one line with what to check: a pure judgement
// over the most recent queries and the recent time-outs at each scan interval.
#pragma once

#include <QString>

#include <cstdint>
#include <map>

// The most recent queries at one scan interval and how many of them timed out.
struct TIntervalTally {
    std::uint64_t Queries = 0;
    std::uint64_t NoResponse = 0;
};

// The most recent queries (broadcasts left out), summed up.
struct TLineSummary {
    int Queries = 0;
    int Answered = 0;
    int NoResponse = 0;
    int BadFrame = 0;
    int Mismatch = 0;
    int OtherAddress = 0;
    int Exception02 = 0;
    int Exception04 = 0;
    int OtherExceptions = 0;
    int LastOtherException = 0;
    std::uint64_t BytesReceived = 0;
    int ParityErrors = 0;
    int FramingErrors = 0;
    int OverrunErrors = 0;
    // The address the foreign answers came from (the last one seen).
    int ForeignAddress = 0;
    // Answers with bytes ahead of them that belong to no answer.
    int StrayBytes = 0;
    // The scan interval now, and the recent queries and time-outs at each interval used since
    // the connect.
    int QueryInterval = 0;
    std::map<int, TIntervalTally> ByInterval;
};

enum class TVerdictKind : std::uint8_t {
    Waiting,
    NoBytes,
    OtherAddress,
    Garbled,
    Exception02,
    Exception04,
    OtherException,
    IntervalTimeouts,
    StrayBytes,
    Intermittent,
    Healthy,
};

struct TLineVerdict {
    TVerdictKind Kind = TVerdictKind::Waiting;
    QString Text;
};

TLineVerdict JudgeLine(const TLineSummary& s);

// The longest setting below `now` (a scan interval, a time-out) whose recent time-outs were a
// pattern that the recent queries at `now` no longer show, or -1: the cure the operator found.
int TimeoutsCuredBelow(const std::map<int, TIntervalTally>& bySetting, int now);
