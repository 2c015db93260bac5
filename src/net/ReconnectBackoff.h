// When a master may try to connect to its gateway again. Pure: the caller gives the time (ms on
// any steady clock) and what happened; the delay after a lost connection or a failed attempt
// starts short and doubles up to a cap, so a gateway that comes back is reached again within
// the cap, and it is back to the shortest after a connection is made. A gateway that closes
// the connection after every answer costs nothing: the next request connects at once.
#pragma once

#include <cstdint>

class TReconnectBackoff {
public:
    static constexpr int FirstDelayMs = 250;
    static constexpr int MaxDelayMs = 2000;

    // A connection was made.
    void Connected();
    // The connection closed. afterAnswer: the last request had its complete answer before the
    // close (the gateway's way of working, not a fault).
    void Dropped(std::int64_t now, bool afterAnswer);
    // An attempt to connect failed.
    void Failed(std::int64_t now);

    // The earliest time of the next attempt.
    std::int64_t NextAttempt() const { return FNextAttempt; }
    // How long from now until then, 0 when it may be made at once.
    int DelayAt(std::int64_t now) const;

private:
    void Postpone(std::int64_t now);

    int FStep = FirstDelayMs;
    std::int64_t FNextAttempt = 0;
};
