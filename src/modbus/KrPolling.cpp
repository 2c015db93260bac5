#include "modbus/KrPolling.h"

#include <algorithm>

namespace {

// The step after a timer tick or a completed response. Nothing follows TimedOut and Finished:
// they arm no timer, so no tick can step them.
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

} // namespace

TKrPolling::TKrPolling() {
    // The master sends binary frames: software flow control would swallow 0x11 and 0x13.
    FComm.SetTxContinueOnXoff(false);
    FComm.SetInx_XonXoffFlow(false);
    FComm.SetOutx_XonXoffFlow(false);
    // A 5 ms silence closes a received chunk: long enough to keep one burst together, short
    // enough that a response is seen within a few milliseconds of its last byte.
    FComm.SetReadIntervalTimeout(5);
    FComm.OnReceiveData = [this](TComm&, const char* buffer, std::uint16_t length) {
        CommReceiveData(buffer, length);
    };
    FComm.OnReceiveError = [this](TComm&, std::uint32_t mask) { CommReceiveError(mask); };
    FComm.OnModemStateChange = [this](TComm&, std::uint32_t bits) { CommModemStateChange(bits); };
    FComm.OnRequestHangup = [this](TComm&) { CommRequestHangup(); };

    SetClock(*FClock);
}

void TKrPolling::SetClock(IKrClock& clock) {
    FClock = &clock;
    FPhaseTimer = FClock->CreateTimer([this] { PhaseTimerTick(); });
    FGapTimer = FClock->CreateTimer([this] { GapTimerTick(); });
}

TKrPolling::~TKrPolling() {
    // The port's events call back into this object: they must stop before it goes.
    TKrPolling::Close();
    FComm.OnReceiveData = nullptr;
    FComm.OnReceiveError = nullptr;
    FComm.OnModemStateChange = nullptr;
    FComm.OnRequestHangup = nullptr;
}

bool TKrPolling::Start(bool Continuous) {
    if (!FOpened) {
        return false;
    }
    FContinuous = Continuous;
    if (!FRunning) {
        FRunning = true;
        StartQuery();
    }
    return true;
}

void TKrPolling::Stop() {
    FContinuous = false;
}

void TKrPolling::Cancel() {
    FRunning = false;
    FContinuous = false;
    FPhaseTimer->Stop();
}

void TKrPolling::StartQuery() {
    ++FQuerySerial;
    FRecvBuffer.clear();
    FResponseComplete = false;
    FAwaiting = true;
    FHeadPos = 0;
    FBroadcast = false;
    FNoResponse = false;
    BuildQuery();
    if (FQueryFrame.size() == 1 && FQueryFrame[0] == FNullQueryChar && FIgnoreNullQuery) {
        FQueryFrame.clear();
    }
    SendQuery(FQueryFrame);
    // A query that expects no response (a null query sent anyway, a write without answer) is
    // complete from the start instead of waiting for the time-out.
    CheckComplete();
    FPhase = TPollPhase::Idle;
    UpdateFrameGap();
    UpdateSendTime();
    FInQuery = true;
    StepPhase();
}

bool TKrPolling::SendQuery(const std::string& Frame) {
    if (!FOpened) {
        return false;
    }
    FRecvBuffer.clear();
    // The port takes at most 65535 bytes per call; a longer frame cannot go out whole.
    if (Frame.empty() || Frame.size() > 0xFFFF) {
        return false;
    }
    bool written = false;
    try {
        written = FComm.WriteData(Frame.data(), static_cast<std::uint16_t>(Frame.size()));
    } catch (...) {
        written = false;
    }
    if (written) {
        DoSendData(Frame);
    }
    return written;
}

void TKrPolling::CommReceiveData(const char* Buffer, std::uint16_t BufferLength) {
    const std::string chunk(Buffer, BufferLength);
    DoRecvData(chunk);
    const size_t oldLen = FRecvBuffer.size();
    FRecvBuffer += chunk;
    if (FAwaiting) {
        if (FHeadPos == 0) {
            const size_t at = chunk.find(FFrameHead);
            if (at != std::string::npos) {
                FHeadPos = static_cast<int>(oldLen + at + 1);
            }
        }
        CheckComplete();
    }
    if (FResponseComplete && FPhaseTimer->IsActive() && FPhase == TPollPhase::ResponseWait) {
        StepPhase();
    }
}

void TKrPolling::ArmPhase(int ms) {
    FPhaseTimerSerial = FQuerySerial;
    FPhaseTimer->Start(ms);
}

void TKrPolling::Finish() {
    FPhase = TPollPhase::Processing;
    // Processing runs from a timer tick, never inside the port's receive event.
    ArmPhase(1);
}

void TKrPolling::StepPhase() {
    const int a = std::max(FFrameGap, FFrameInterval);
    const int b = std::max(FSendTime + a, FQueryInterval);
    FPhaseTimer->Stop();
    FPhase = NextPhase(FPhase);
    if (!FInQuery || !FRunning) {
        return;
    }
    for (;;) {
        switch (FPhase) {
        case TPollPhase::SendTime:
            if (FSendTime > 0) {
                ArmPhase(FSendTime);
                return;
            }
            FPhase = TPollPhase::QueryInterval;
            continue;
        case TPollPhase::Sent:
            FPhase = TPollPhase::QueryInterval;
            continue;
        case TPollPhase::QueryInterval: {
            const int w = FQueryInterval - (FSendTime + a);
            if (w > 0) {
                ArmPhase(w);
                return;
            }
            FPhase = TPollPhase::ResponseCheck;
            continue;
        }
        case TPollPhase::ResponseCheck:
            if (FResponseComplete || FBroadcast || FQueryFrame.empty()) {
                Finish();
                return;
            }
            FPhase = TPollPhase::ResponseWait;
            continue;
        case TPollPhase::ResponseWait: {
            const int w = FQueryTimeout - b;
            if (w > 0) {
                ArmPhase(w);
                return;
            }
            Finish();
            return;
        }
        case TPollPhase::TimedOut:
            Finish();
            return;
        case TPollPhase::Finished:
            FInQuery = false;
            FAwaiting = false;
            FinishQuery();
            return;
        case TPollPhase::Idle:
        case TPollPhase::Processing:
            return;
        }
    }
}

void TKrPolling::PhaseTimerTick() {
    if (FPhaseTimerSerial != FQuerySerial) {
        return;
    }
    StepPhase();
}

void TKrPolling::GapTimerTick() {
    FGapTimer->Stop();
    if (FGapTimerSerial != FQuerySerial) {
        return;
    }
    StartQuery();
}

void TKrPolling::FinishQuery() {
    if (FInQuery || !FRunning) {
        return;
    }
    const auto serial = FQuerySerial;
    ProcessResponse();
    // A handler may have cancelled or closed the master while the response was processed,
    // or started polling anew: the query it began runs its own course.
    if (!FRunning || FQuerySerial != serial) {
        return;
    }
    if (FContinuous) {
        const int g = std::max(FFrameGap, FFrameInterval);
        if (g <= 0) {
            StartQuery();
        } else {
            FGapTimerSerial = FQuerySerial;
            FGapTimer->Start(g);
        }
    } else {
        FRunning = false;
        DoQueryFinish();
    }
}

void TKrPolling::CommRequestHangup() {
    if (OnLineLost) {
        OnLineLost(*this);
    }
}

void TKrPolling::DoRecvData(const std::string& Data) {
    if (OnRecvData) {
        OnRecvData(*this, Data);
    }
}

void TKrPolling::DoSendData(const std::string& Data) {
    if (OnSendData) {
        OnSendData(*this, Data);
    }
}

void TKrPolling::DoQueryFinish() {
    if (OnQueryFinish) {
        OnQueryFinish(*this);
    }
}
