#include "modbus/KrModbus.h"

#include "serial/LineEvents.h"

#include <utility>

namespace {

// Line-error flags of the port that spoil the bytes of a query: overrun, parity, framing.
constexpr std::uint32_t LineErrorMask =
    LineEvents::ErrOverrun | LineEvents::ErrParity | LineEvents::ErrFrame;

template <typename TEvent, typename... TArgs>
void Raise(const TEvent& event, TKrModbus& sender, TArgs&&... args) {
    if (event) {
        event(sender, std::forward<TArgs>(args)...);
    }
}

} // namespace

TKrModbus::TKrModbus() {
    FNullQueryChar = NullQueryChar;
    SetParity(TParity::Even);
}

TKrModbus::~TKrModbus() = default;

void TKrModbus::SetProtocolVersion(TProtocolVersion value) {
    FSettings.ProtocolVersion = value;
    UpdateParityCheck();
}

void TKrModbus::SetParity(TParity value) {
    TKrPolling::SetParity(value);
    UpdateParityCheck();
}

void TKrModbus::UpdateParityCheck() {
    Comm().SetParityCheck(FSettings.ProtocolVersion == pvGB19582_2008 &&
                          Comm().Parity() != TParity::None);
}

void TKrModbus::BuildQuery() {
    FLineError = false;
    std::string fmtData;
    if (OnQueryData) {
        OnQueryData(*this, fmtData);
    }
    if (fmtData.empty()) {
        // No new text: the previous frame goes out again, and with it its expectations.
        if (FQueryFrame.empty()) {
            // Nothing to repeat (just opened, or a dropped null query): nothing is awaited.
            FQuery = TKrQuery{};
        }
        FBroadcast = FQuery.Broadcast;
        return;
    }
    FQuery = BuildQueryFrame(fmtData, FSettings);
    FQueryFrame = FQuery.QueryFrame;
    FBroadcast = FQuery.Broadcast;
    FFrameHead = FQueryFrame.empty() ? FNullQueryChar : FQueryFrame[0];
    FCurrentRequest = FQuery.Request;
}

void TKrModbus::CheckComplete() {
    if (FQuery.ResponseLength <= 0) {
        FResponseComplete = true;
        return;
    }
    // Counted from the head of the response: noise on the line before it must not pass for a
    // complete answer, or the query would end before the real one has arrived.
    FResponseComplete =
        FHeadPos != 0 && static_cast<long long>(FRecvBuffer.size()) >=
                             static_cast<long long>(FHeadPos) + FQuery.ResponseLength - 1;
}

bool TKrModbus::LineTimed() const {
    return FSettings.Mode == tmRtu && FSettings.ProtocolVersion == pvGB19582_2008;
}

// The line's character times belong to the transport; which protocol version waits them out
// is the master's.
void TKrModbus::UpdateSendTime() {
    FSendTime = LineTimed() ? Transport().SendTime(FQuery.RequestLength) : 0;
}

void TKrModbus::UpdateFrameGap() {
    FFrameGap = LineTimed() ? Transport().FrameGap() : 0;
}

void TKrModbus::CommReceiveError(std::uint32_t EventMask) {
    if (FSettings.ProtocolVersion == pvGB19582_2008 && (EventMask & LineErrorMask) != 0) {
        FLineError = true;
    }
    Raise(OnLineError, *this, EventMask);
}

void TKrModbus::ProcessResponse() {
    FResponse = FRecvBuffer;
    TKrResponseOutcome o =
        EvaluateResponse(FSettings, {FCurrentRequest, FQuery.ResponseLength, FQuery.ExceptionLength,
                                     FBroadcast, FLineError, FResponse});
    FErrorKind = static_cast<std::uint8_t>(o.ErrorKind);
    FExceptionCode = o.ExceptionCode;
    FNoResponse = o.NoResponse;
    if (o.Extracted) {
        FValidResponse = std::move(o.ValidResponse);
    }
    switch (o.Kind) {
    case TKrResponseOutcome::TKind::Ignored:
        break;
    case TKrResponseOutcome::TKind::Error:
        RaiseNotify(OnResponseError);
        break;
    case TKrResponseOutcome::TKind::Exception:
        RaiseException();
        break;
    case TKrResponseOutcome::TKind::Response:
        RaiseFunctionEvent(o.Decoded);
        break;
    }
    RaiseNotify(OnAfterResponse);
}

void TKrModbus::RaiseException() {
    const auto slave = static_cast<std::uint8_t>(FCurrentRequest.empty() ? 0 : FCurrentRequest[0]);
    const auto fn = static_cast<std::uint8_t>(FCurrentRequest.size() < 2 ? 0 : FCurrentRequest[1]);
    if (OnFExResponse) {
        OnFExResponse(*this, slave, fn, FExceptionCode);
    } else if (OnExceptionResponse) {
        OnExceptionResponse(*this, slave, FExceptionCode);
    }
}

void TKrModbus::RaiseNotify(const TNotifyEvent& event) {
    if (event) {
        event(*this);
    }
}

void TKrModbus::RaiseFunctionEvent(const TKrDecoded& d) {
    using E = TKrResponseEvent;
    switch (d.Event) {
    case E::None:
        return;
    case E::F01:
        return Raise(OnF01Response, *this, d.Slave, d.StartAddr, d.Bits());
    case E::F02:
        return Raise(OnF02Response, *this, d.Slave, d.StartAddr, d.Bits());
    case E::F03:
        return Raise(OnF03Response, *this, d.Slave, d.StartAddr, d.Words);
    case E::F04:
        return Raise(OnF04Response, *this, d.Slave, d.StartAddr, d.Words);
    case E::F83:
        return Raise(OnF83Response, *this, d.Slave, d.StartAddr, d.Words);
    case E::F05:
        return Raise(OnF05Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F06:
        return Raise(OnF06Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F85:
        return Raise(OnF85Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F0F:
        return Raise(OnF0FResponse, *this, d.Slave, d.StartAddr, d.Value);
    case E::F10:
        return Raise(OnF10Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F29:
        return Raise(OnF29Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F6A:
        return Raise(OnF6AResponse, *this, d.Slave, d.StartAddr, d.Value);
    case E::FB0:
        return Raise(OnFB0Response, *this, d.Slave, d.StartAddr, d.Value);
    case E::F14:
        return Raise(OnF14Response, *this, d.Slave, d.Files);
    case E::F15:
        return Raise(OnF15Response, *this, d.Slave, d.Files);
    case E::F28:
        return Raise(OnF28Response, *this, d.Slave, d.StartAddr, std::string_view(d.Text));
    case E::F91:
        return RaiseNotify(OnF91Response);
    case E::FC3:
        return Raise(OnFC3Response, *this, d.Slave, d.DevStatus, d.RTDLength, d.Words);
    case E::FC4:
        return Raise(OnFC4Response, *this, d.Slave, d.DevStatus);
    }
}
