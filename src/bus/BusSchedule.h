// Several meters on one RS-485 line with one master: which meter to ask next and when, so that
// one query is in flight at a time, each meter keeps its own cadence, a meter that stopped
// answering costs the line little, and the operator can pause one. Pure: the caller passes the
// time (ms on any monotonic clock) and reports how each query ended.
//
// The states of a meter:
// - Answering: read at its own interval; when several are due, the most overdue goes first.
// - Slow: still read at its interval, but of its last SlowWindow queries at least one timed out
//   or brought a bad frame, or its last answer took longer than SlowResponseMs.
// - Offline: OfflineAfter time-outs in a row. It is probed once per back-off period, which
//   starts at BackoffFirstMs and doubles after every unanswered probe up to BackoffMaxMs, so it
//   costs at most one time-out per period. Any reply to a probe (an answer, an exception, even a
//   bad frame: something is there) brings it back to Answering at its interval, its recent
//   outcomes forgotten.
// - Paused: never asked until Resume, which makes it due at once.
#pragma once

#include "bus/BusStats.h"

#include <cstdint>
#include <optional>
#include <vector>

enum class TBusMeterState : std::uint8_t { Answering, Slow, Offline, Paused };

struct TBusMeter {
    int Address = 1;
    std::int64_t IntervalMs = 1000;
    bool Paused = false;
};

struct TBusTimings {
    // The 3.5-character silence between frames at the line's speed.
    std::int64_t SilenceMs = 2;
    // Extra quiet after a query to another address, for meters that need it to tell frames
    // apart; none by default.
    std::int64_t AddressChangePauseMs = 0;
    std::int64_t BackoffFirstMs = 2000;
    std::int64_t BackoffMaxMs = 60000;
    int OfflineAfter = 3;
    int SlowWindow = 8;
    std::int64_t SlowResponseMs = 250;
};

// The query to send: to which meter, and not before when.
struct TBusNextQuery {
    int Address = 0;
    std::int64_t At = 0;
    bool operator==(const TBusNextQuery&) const = default;
};

class TBusSchedule {
public:
    explicit TBusSchedule(const TBusTimings& timings = {});

    // Adds a meter, due at `now` (unless paused); false for an address not a meter's or one
    // already on the line.
    bool AddMeter(const TBusMeter& meter, std::int64_t now);
    bool Pause(int address);
    bool Resume(int address, std::int64_t now);
    void SetInterval(int address, std::int64_t intervalMs);

    // The next query, or nothing while one is in flight or every meter is paused. `At` is never
    // before `now`.
    std::optional<TBusNextQuery> Next(std::int64_t now) const;
    // The query to `address` went out at `now`; false (and nothing changes) while another one
    // is in flight or for a meter not on the line or paused.
    bool Started(int address, std::int64_t now);
    // The query in flight ended at `now`; `responseMs` is the time its answer took (used for
    // Answered only).
    void Finished(TBusOutcome outcome, std::int64_t now, std::int64_t responseMs = 0);

    bool InFlight() const { return FInFlight.has_value(); }
    std::vector<int> Addresses() const;
    TBusMeterState State(int address) const;
    // The stats of a meter on the line (a meter not on it reads as all zero).
    const TBusMeterStats& Stats(int address) const;
    // The back-off of an offline meter: how long after a failed probe the next one goes out.
    std::int64_t BackoffMs(int address) const;
    TBusLineStats LineStats(std::int64_t now) const;

private:
    struct TMeterSlot {
        TBusMeter Meter;
        std::int64_t Due = 0;
        bool Offline = false;
        int TimeoutsInRow = 0;
        std::int64_t Backoff = 0;
        std::vector<TBusOutcome> Recent; // the last SlowWindow outcomes, oldest first
        std::optional<std::int64_t> LastResponseMs;
        TBusMeterStats Stats;
    };

    TMeterSlot* Find(int address);
    const TMeterSlot* Find(int address) const;
    bool Slow(const TMeterSlot& slot) const;
    void Remember(TMeterSlot& slot, TBusOutcome outcome, std::int64_t responseMs);
    // Moves the meter's next query after a query that started at `start` and ended at `now`.
    void Reschedule(TMeterSlot& slot, TBusOutcome outcome, std::int64_t start, std::int64_t now);
    // When the line is free for a query to `address`.
    std::int64_t LineFreeFor(int address) const;

    TBusTimings FTimings;
    std::vector<TMeterSlot> FSlots;
    struct TFlight {
        int Address = 0;
        std::int64_t Start = 0;
    };
    std::optional<TFlight> FInFlight;
    std::optional<int> FLastAddress;
    std::optional<std::int64_t> FLastEnd;
    std::optional<std::int64_t> FFirstStart;
    std::int64_t FBusyMs = 0;
    std::int64_t FQueries = 0;
};
