#include "comms/CommCounters.h"

#include "serial/LineEvents.h"

std::uint64_t TCommCounters::ExceptionCount() const {
    std::uint64_t total = 0;
    for (const auto& [code, count] : Exceptions)
        total += count;
    return total;
}

std::uint64_t TCommCounters::Failed() const {
    return NoResponse + BadFrame + Mismatch + OtherAddress + ExceptionCount();
}

void TCommCounters::Count(TFrameOutcome outcome, int exceptionCode) {
    switch (outcome) {
    case TFrameOutcome::Answered:
        ++Answered;
        break;
    case TFrameOutcome::NoResponse:
        ++NoResponse;
        break;
    case TFrameOutcome::BadFrame:
        ++BadFrame;
        break;
    case TFrameOutcome::Mismatch:
        ++Mismatch;
        break;
    case TFrameOutcome::OtherAddress:
        ++OtherAddress;
        break;
    case TFrameOutcome::Exception:
        ++Exceptions[exceptionCode];
        break;
    case TFrameOutcome::Broadcast:
        ++Broadcasts;
        break;
    }
}

void TCommCounters::CountLineErrors(std::uint32_t flags) {
    if (flags & LineEvents::ErrFrame)
        ++FramingErrors;
    if (flags & LineEvents::ErrParity)
        ++ParityErrors;
    if (flags & LineEvents::ErrOverrun)
        ++OverrunErrors;
}
