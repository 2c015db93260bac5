// Where a query of the polling master stands in its cycle, and what the cycle does next: the
// waits worked out from the master's times without a port or a timer.
#pragma once

#include <cstdint>

// A query steps through these in order; a step with nothing to wait for passes straight on to
// the next.
enum class TPollPhase : std::uint8_t {
    Idle,          // no query begun, or a step that no timer can reach
    SendTime,      // waiting out the frame's time on the line
    Sent,          // the frame is out
    QueryInterval, // waiting out the rest of the query interval
    ResponseCheck, // finished when the response is complete or none is awaited
    ResponseWait,  // waiting for the response until the time-out
    TimedOut,      // the time-out has passed
    Processing,    // the response is processed at the next timer tick
    Finished,      // processed; the next query or the end of polling follows
};

// The master's times of one query, in ms.
struct TPollTimes {
    int SendTime = 0;
    int FrameGap = 0;
    int FrameInterval = 0;
    int QueryInterval = 0;
    int QueryTimeout = 0;
};

enum class TPollAction : std::uint8_t {
    None,     // nothing: no timer reaches this phase
    Wait,     // arm the phase timer for WaitMs
    EndQuery, // the query is over: the next one or the end of polling
};

struct TPollStep {
    TPollPhase Phase = TPollPhase::Idle;
    TPollAction Action = TPollAction::None;
    int WaitMs = 0;
};

// The phase after `phase` on a timer tick or a completed response.
TPollPhase NextPhase(TPollPhase phase);
// The step from `phase` on a timer tick or a completed response, passing the phases with nothing
// to wait for: the phase where the cycle waits and for how long, or ends the query. `answered`:
// the response is complete or none is awaited. A finished response is processed from a timer
// tick (Processing, 1 ms), never inside the port's receive event.
TPollStep NextPollStep(TPollPhase phase, const TPollTimes& times, bool answered);
