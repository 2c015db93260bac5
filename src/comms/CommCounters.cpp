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

void TCommCounters::Count(TQueryOutcome outcome, int exceptionCode) {
    switch (outcome) {
    case TQueryOutcome::Answered:
        ++Answered;
        break;
    case TQueryOutcome::NoResponse:
        ++NoResponse;
        break;
    case TQueryOutcome::BadFrame:
        ++BadFrame;
        break;
    case TQueryOutcome::Mismatch:
        ++Mismatch;
        break;
    case TQueryOutcome::OtherAddress:
        ++OtherAddress;
        break;
    case TQueryOutcome::Exception:
        ++Exceptions[exceptionCode];
        break;
    case TQueryOutcome::Broadcast:
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
