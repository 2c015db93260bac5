#include "modbus/KrPolling.h"

#include <algorithm>

TKrPolling::TKrPolling() {
    BindTransport();
    SetClock(*FClock);
}

void TKrPolling::BindTransport() {
    IKrTransport& t = Transport();
    t.OnReceive = [this](const char* buffer, std::uint16_t length) {
        CommReceiveData(buffer, length);
    };
    t.OnLineError = [this](std::uint32_t mask) { CommReceiveError(mask); };
    t.OnModemState = [this](std::uint32_t bits) { CommModemStateChange(bits); };
    t.OnLineLost = [this] { CommRequestHangup(); };
    t.OnFault = [this](const std::string& text) {
        if (OnTransportFault) {
            OnTransportFault(*this, text);
        }
    };
}

void TKrPolling::UnbindTransport() {
    IKrTransport& t = Transport();
    t.OnReceive = nullptr;
    t.OnLineError = nullptr;
    t.OnModemState = nullptr;
    t.OnLineLost = nullptr;
    t.OnFault = nullptr;
}

void TKrPolling::SetTransport(IKrTransport* transport) {
    Close();
    UnbindTransport();
    UseTransport(transport);
    BindTransport();
}

void TKrPolling::SetClock(IKrClock& clock) {
    FClock = &clock;
    FPhaseTimer = FClock->CreateTimer([this] { PhaseTimerTick(); });
    FGapTimer = FClock->CreateTimer([this] { GapTimerTick(); });
}

TKrPolling::~TKrPolling() {
    // The port's events call back into this object: they must stop before it goes.
    TKrPolling::Close();
    UnbindTransport();
}

bool TKrPolling::Open() {
    if (!Opened()) {
        FInQuery = false;
        FAwaiting = false;
        FRunning = false;
        FHeadPos = 0;
        FQueryFrame.clear();
        FRecvBuffer.clear();
    }
    return TKrPollingPort::Open();
}

void TKrPolling::Close() {
    Cancel();
    TKrPollingPort::Close();
}

bool TKrPolling::Start(bool Continuous) {
    if (!Opened()) {
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
    if (!Opened()) {
        return false;
    }
    FRecvBuffer.clear();
    if (Frame.empty()) {
        return false;
    }
    bool written = false;
    try {
        written = Transport().Write(Frame);
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

void TKrPolling::StepPhase() {
    FPhaseTimer->Stop();
    if (!FInQuery || !FRunning) {
        FPhase = NextPhase(FPhase);
        return;
    }
    const TPollStep step =
        NextPollStep(FPhase, {FSendTime, FFrameGap, FFrameInterval, FQueryInterval, FQueryTimeout},
                     FResponseComplete || FBroadcast || FQueryFrame.empty());
    FPhase = step.Phase;
    switch (step.Action) {
    case TPollAction::Wait:
        ArmPhase(step.WaitMs);
        break;
    case TPollAction::EndQuery:
        FInQuery = false;
        FAwaiting = false;
        FinishQuery();
        break;
    case TPollAction::None:
        break;
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
