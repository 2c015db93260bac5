#include "modbus/KrPollPhase.h"

#include <algorithm>

// Nothing follows TimedOut and Finished: they arm no timer, so no tick can step them.
TPollPhase NextPhase(TPollPhase phase) {
    switch (phase) {
    case TPollPhase::Idle:
        return TPollPhase::SendTime;
    case TPollPhase::SendTime:
        return TPollPhase::Sent;
    case TPollPhase::Sent:
        return TPollPhase::QueryInterval;
    case TPollPhase::QueryInterval:
        return TPollPhase::ResponseCheck;
    case TPollPhase::ResponseCheck:
        return TPollPhase::ResponseWait;
    case TPollPhase::ResponseWait:
        return TPollPhase::TimedOut;
    case TPollPhase::Processing:
        return TPollPhase::Finished;
    case TPollPhase::TimedOut:
    case TPollPhase::Finished:
        break;
    }
    return TPollPhase::Idle;
}

TPollStep NextPollStep(TPollPhase phase, const TPollTimes& times, bool answered) {
    const int gap = std::max(times.FrameGap, times.FrameInterval);
    const int sent = std::max(times.SendTime + gap, times.QueryInterval);
    const TPollStep finish{TPollPhase::Processing, TPollAction::Wait, 1};
    phase = NextPhase(phase);
    for (;;) {
        switch (phase) {
        case TPollPhase::SendTime:
            if (times.SendTime > 0)
                return {phase, TPollAction::Wait, times.SendTime};
            phase = TPollPhase::QueryInterval;
            continue;
        case TPollPhase::Sent:
            phase = TPollPhase::QueryInterval;
            continue;
        case TPollPhase::QueryInterval:
            if (const int w = times.QueryInterval - (times.SendTime + gap); w > 0)
                return {phase, TPollAction::Wait, w};
            phase = TPollPhase::ResponseCheck;
            continue;
        case TPollPhase::ResponseCheck:
            if (answered)
                return finish;
            phase = TPollPhase::ResponseWait;
            continue;
        case TPollPhase::ResponseWait:
            if (const int w = times.QueryTimeout - sent; w > 0)
                return {phase, TPollAction::Wait, w};
            return finish;
        case TPollPhase::TimedOut:
            return finish;
        case TPollPhase::Finished:
            return {phase, TPollAction::EndQuery, 0};
        case TPollPhase::Idle:
        case TPollPhase::Processing:
            return {phase, TPollAction::None, 0};
        }
    }
}
