// Closing after the writes: the writes of confirmed commands still waiting go out, each within
// its time-out, the reads queued between them are dropped, and the cycle ends with the last
// write's outcome. It exists so that the session's query choice reads as one rule with one
// exception, and the closing state sits in one place.
#pragma once

#include "link/QueryQueue.h"

class TClosingWrites {
public:
    explicit TClosingWrites(TQueryQueue& queue) : FQueue(queue) {}

    // Starts closing; false (nothing changed) when no write is waiting or on its way.
    bool Begin(bool writeOnItsWay);
    // Closing has begun; it lasts until the link is made anew.
    bool Closing() const { return FClosing; }
    // Only the writes go out: the reads queued since closing began are dropped as well.
    bool OnlyWrites();
    // The last write is on its way: the cycle ends with its outcome.
    bool LastWriteTaken() const { return FFinishing && FQueue.Empty(); }
    void CycleEnded() { FFinishing = false; }

private:
    TQueryQueue& FQueue;
    bool FFinishing = false;
    bool FClosing = false;
};
