#include "modbus/KrModbus.h"

#include <cmath>
#include <memory>

namespace {

constexpr unsigned ExceptionBit = 0x80;
// Line-error flags of the port that spoil the bytes of a query: overrun, parity, framing.
constexpr std::uint32_t LineErrorMask = TComm::ErrOverrun | TComm::ErrParity | TComm::ErrFrame;
// Bits per character on the wire (start, 8 data, parity or second stop, stop) and the
// silence that ends an RTU frame, in characters.
constexpr double BitsPerChar = 11.0;
constexpr double FrameSilenceChars = 3.5;

// Reads beyond the end give 0: the checks below then fail instead of reading foreign memory.
unsigned Byte(std::string_view s, size_t i) {
    return i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0U;
}
unsigned Word(std::string_view s, size_t i) {
    return Byte(s, i) << 8 | Byte(s, i + 1);
}
bool Echo(std::string_view response, std::string_view request) {
    return response.size() >= 6 && request.size() >= 6 &&
           response.substr(2, 4) == request.substr(2, 4);
}
std::vector<std::uint16_t> Words(std::string_view s, size_t from, size_t count) {
    std::vector<std::uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) {
        words[i] = static_cast<std::uint16_t>(Word(s, from + 2 * i));
    }
    return words;
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
    FComm.SetParityCheck(FSettings.ProtocolVersion == pvGB19582_2008 &&
                         FComm.Parity() != TParity::None);
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
    return FSettings.Mode == tmRtu && FSettings.ProtocolVersion == pvGB19582_2008 && Baudrate() > 0;
}

void TKrModbus::UpdateSendTime() {
    FSendTime = 0;
    if (LineTimed()) {
        // nearbyint in the default rounding mode rounds halves to even.
        FSendTime = static_cast<int>(std::nearbyint((FQuery.RequestLength + FrameSilenceChars) *
                                                    BitsPerChar * 1000.0 / Baudrate()));
    }
}

void TKrModbus::UpdateFrameGap() {
    FFrameGap = 0;
    if (LineTimed()) {
        FFrameGap =
            static_cast<int>(std::nearbyint(FrameSilenceChars * BitsPerChar * 1000.0 / Baudrate()));
    }
}

void TKrModbus::CommReceiveError(std::uint32_t EventMask) {
    if (FSettings.ProtocolVersion == pvGB19582_2008 && (EventMask & LineErrorMask) != 0) {
        FLineError = true;
    }
}

void TKrModbus::ProcessResponse() {
    FResponse = FRecvBuffer;
    FErrorKind = ekNone;
    FExceptionCode = -1;
    if (FSettings.ProtocolVersion == pvOldFormat) {
        ProcessOldFormat();
    } else {
        ProcessGb();
    }
    RaiseNotify(OnAfterResponse);
}

void TKrModbus::ProcessOldFormat() {
    const long long length = static_cast<long long>(FResponse.size());
    if (FQuery.ResponseLength <= 0) {
        return;
    }
    if (length < FQuery.ResponseLength) {
        ReportError(ekNoResponse);
        return;
    }
    if (!ExtractResponse()) {
        ReportError(ekBadFrame);
        return;
    }
    if (!CheckResponse()) {
        ReportError(ekMismatch);
        return;
    }
    RaiseFunctionEvent();
}

void TKrModbus::ProcessGb() {
    const long long length = static_cast<long long>(FResponse.size());
    FNoResponse = FResponse.empty();
    if (FBroadcast || FQuery.ResponseLength <= 0) {
        return;
    }
    if (FNoResponse) {
        ReportError(ekNoResponse);
        return;
    }
    if (FLineError) {
        ReportError(ekBadFrame);
        return;
    }
    if (length < FQuery.ResponseLength && length < FQuery.ExceptionLength) {
        ReportError(ekBadFrame);
        return;
    }
    if (!ExtractResponse()) {
        ReportError(ekBadFrame);
        return;
    }
    if (!CheckResponse()) {
        if (FExceptionCode != -1) {
            FErrorKind = ekException;
            RaiseException();
        } else {
            ReportError(ekMismatch);
        }
        return;
    }
    RaiseFunctionEvent();
}

// The codec accepts only a frame of the full expected length (normal or exception), so a
// frame whose check field happens to fit but which is shorter than its request promises
// never reaches the decoders.
bool TKrModbus::ExtractResponse() {
    FValidResponse.clear();
    return ::ExtractResponse(FSettings, FCurrentRequest, FQuery.ResponseLength,
                             FQuery.ExceptionLength, FResponse, FValidResponse);
}

bool TKrModbus::CheckResponse() {
    const std::string_view req = FCurrentRequest;
    const std::string_view resp = FValidResponse;
    const bool gb = FSettings.ProtocolVersion == pvGB19582_2008;
    const bool old = !gb;
    const unsigned fn = Byte(req, 1);
    if (gb && fn < ExceptionBit && Byte(resp, 1) == (fn | ExceptionBit)) {
        FExceptionCode = static_cast<int>(Byte(resp, 2));
        return false;
    }
    const unsigned qty = Word(req, 4);
    const unsigned b = Byte(req, 2);
    switch (fn) {
    case 0x01:
    case 0x02:
        return Byte(resp, 2) == (qty + 7) / 8;
    case 0x03:
    case 0x04:
        return Byte(resp, 2) == 2 * qty;
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10:
        return Echo(resp, req);
    case 0x6A:
        return old || Echo(resp, req);
    case 0x29:
    case 0x85:
    case 0xB0:
        return gb || Echo(resp, req);
    case 0x14: {
        unsigned a = 0;
        for (unsigned i = 0; i < b / 7; ++i) {
            const unsigned l = Word(req, 7 * i + 8);
            if (Byte(resp, a + 3) != 2 * l + 1 || Byte(resp, a + 4) != Byte(req, 7 * i + 3)) {
                return false;
            }
            a += 2 * l + 2;
        }
        return Byte(resp, 2) == a;
    }
    case 0x15:
        return Byte(resp, 2) == b && resp.size() >= b + 3 && req.size() >= b + 3 &&
               resp.substr(3, b) == req.substr(3, b);
    case 0x28:
        return gb || qty == Byte(resp, 2);
    case 0x83:
        return gb || (Byte(resp, 2) == Byte(req, 2) && Byte(resp, 3) == Byte(req, 3) &&
                      Word(resp, 4) == 2 * qty);
    case 0xC3:
        return gb || Word(resp, 2) == 2 * qty + 4;
    default:
        return true;
    }
}

void TKrModbus::ReportError(std::uint8_t kind) {
    FErrorKind = kind;
    RaiseNotify(OnResponseError);
}

void TKrModbus::RaiseException() {
    const auto slave = static_cast<std::uint8_t>(Byte(FCurrentRequest, 0));
    if (OnFExResponse) {
        OnFExResponse(*this, slave, static_cast<std::uint8_t>(Byte(FCurrentRequest, 1)),
                      FExceptionCode);
    } else if (OnExceptionResponse) {
        OnExceptionResponse(*this, slave, FExceptionCode);
    }
}

void TKrModbus::RaiseNotify(const TNotifyEvent& event) {
    if (event) {
        event(*this);
    }
}

void TKrModbus::RaiseFunctionEvent() {
    const std::string_view req = FCurrentRequest;
    const std::string_view resp = FValidResponse;
    const bool gb = FSettings.ProtocolVersion == pvGB19582_2008;
    const auto slave = static_cast<std::uint8_t>(Byte(req, 0));
    const auto startAddr = static_cast<std::uint16_t>(Word(req, 2));
    const auto qty = static_cast<std::uint16_t>(Word(req, 4));

    auto bits = [&](const TF02ResponseEvent& event) {
        if (!event) {
            return;
        }
        // Least significant bit first: coil i is bit i mod 8 of data byte i div 8.
        auto values = std::make_unique<bool[]>(qty);
        for (size_t i = 0; i < qty; ++i) {
            values[i] = ((Byte(resp, 3 + i / 8) >> (i % 8)) & 1U) != 0;
        }
        event(*this, slave, startAddr, std::span<const bool>(values.get(), qty));
    };
    auto words = [&](const TF03ResponseEvent& event, size_t from) {
        if (event) {
            const std::vector<std::uint16_t> values = Words(resp, from, qty);
            event(*this, slave, startAddr, values);
        }
    };
    auto value = [&](const TF05ResponseEvent& event) {
        if (event) {
            event(*this, slave, startAddr, qty);
        }
    };
    auto count = [&](const TF10ResponseEvent& event) {
        if (event) {
            event(*this, slave, startAddr, qty);
        }
    };

    switch (Byte(req, 1)) {
    case 0x01:
        bits(OnF01Response);
        return;
    case 0x02:
        bits(OnF02Response);
        return;
    case 0x03:
        words(OnF03Response, 3);
        return;
    case 0x04:
        words(OnF04Response, 3);
        return;
    case 0x05:
        value(OnF05Response);
        return;
    case 0x06:
        value(OnF06Response);
        return;
    case 0x0F:
        count(OnF0FResponse);
        return;
    case 0x10:
        count(OnF10Response);
        return;
    case 0x14:
        if (OnF14Response) {
            std::vector<TFileSubResp> subs;
            size_t k = 3;
            for (size_t i = 0; i < Byte(req, 2) / 7; ++i) {
                TFileSubResp sub;
                sub.RefType = static_cast<std::uint8_t>(Byte(req, 7 * i + 3));
                sub.FileNum = static_cast<std::uint16_t>(Word(req, 7 * i + 4));
                sub.RecNum = static_cast<std::uint16_t>(Word(req, 7 * i + 6));
                const size_t l = Word(req, 7 * i + 8);
                k += 2; // the group's length and reference bytes
                sub.RecData = Words(resp, k, l);
                k += 2 * l;
                subs.push_back(std::move(sub));
            }
            OnF14Response(*this, slave, subs);
        }
        return;
    case 0x15:
        if (OnF15Response) {
            std::vector<TFileSubResp> subs;
            const size_t end = Byte(req, 2) + 3;
            for (size_t p = 3; p < end;) {
                TFileSubResp sub;
                sub.RefType = static_cast<std::uint8_t>(Byte(req, p));
                sub.FileNum = static_cast<std::uint16_t>(Word(req, p + 1));
                sub.RecNum = static_cast<std::uint16_t>(Word(req, p + 3));
                const size_t l = Word(req, p + 5);
                sub.RecData = Words(req, p + 7, l);
                subs.push_back(std::move(sub));
                p += 7 + 2 * l;
            }
            OnF15Response(*this, slave, subs);
        }
        return;
    case 0x6A:
        if (gb) {
            count(OnF6AResponse);
        }
        return;
    default:
        break;
    }
    if (gb) {
        // The GB parser accepts other codes generically; they have no event of their own.
        return;
    }
    switch (Byte(req, 1)) {
    case 0x28:
        if (OnF28Response) {
            OnF28Response(*this, slave, startAddr,
                          resp.substr(std::min<size_t>(3, resp.size()), qty));
        }
        return;
    case 0x29:
        count(OnF29Response);
        return;
    case 0x83:
        words(OnF83Response, 6);
        return;
    case 0x85:
        value(OnF85Response);
        return;
    case 0x91:
        RaiseNotify(OnF91Response);
        return;
    case 0xB0:
        count(OnFB0Response);
        return;
    case 0xC3:
        if (OnFC3Response) {
            const std::vector<std::uint16_t> values = Words(resp, 8, qty);
            OnFC3Response(*this, slave, static_cast<std::uint16_t>(Word(resp, 4)),
                          static_cast<std::uint16_t>(Word(resp, 6)), values);
        }
        return;
    case 0xC4:
        if (OnFC4Response) {
            OnFC4Response(*this, static_cast<std::uint8_t>(Byte(resp, 2)),
                          static_cast<std::uint16_t>(Word(resp, 3)));
        }
        return;
    default:
        return;
    }
}
