#include "modbus/KrResponse.h"

#include <algorithm>

namespace {

constexpr unsigned ExceptionBit = 0x80;

// Reads beyond the end give 0: the checks then fail instead of reading foreign memory.
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

TKrResponseOutcome Failed(TKrResponseOutcome outcome, TKrErrorKind kind) {
    outcome.Kind = TKrResponseOutcome::TKind::Error;
    outcome.ErrorKind = kind;
    return outcome;
}

// Least significant bit first: coil i is bit i mod 8 of data byte i div 8.
void DecodeBits(std::string_view resp, size_t count, TKrDecoded& d) {
    d.BitValues = std::make_unique<bool[]>(count);
    d.BitCount = count;
    for (size_t i = 0; i < count; ++i) {
        d.BitValues[i] = ((Byte(resp, 3 + i / 8) >> (i % 8)) & 1U) != 0;
    }
}

// A file-record read: the groups of the request, their data from the response.
std::vector<TFileSubResp> ReadFileGroups(std::string_view req, std::string_view resp) {
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
    return subs;
}

// A file-record write is echoed: the groups and their data are the request's own.
std::vector<TFileSubResp> WrittenFileGroups(std::string_view req) {
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
    return subs;
}

} // namespace

bool ResponseFitsRequest(const TKrCodecSettings& settings, std::string_view req,
                         std::string_view resp, int& exceptionCode) {
    const bool gb = settings.ProtocolVersion == pvGB19582_2008;
    const bool old = !gb;
    const unsigned fn = Byte(req, 1);
    if (gb && fn < ExceptionBit && Byte(resp, 1) == (fn | ExceptionBit)) {
        exceptionCode = static_cast<int>(Byte(resp, 2));
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

namespace {

// A write reports the request's own value or count.
void Written(TKrDecoded& d, TKrResponseEvent event, std::uint16_t qty) {
    d.Event = event;
    d.Value = qty;
}

// The public function codes (and 0x6A of the GB format); false for any other code.
bool DecodeStandard(std::string_view req, std::string_view resp, std::uint16_t qty, bool gb,
                    TKrDecoded& d) {
    using E = TKrResponseEvent;
    switch (Byte(req, 1)) {
    case 0x01:
    case 0x02:
        d.Event = Byte(req, 1) == 0x01 ? E::F01 : E::F02;
        DecodeBits(resp, qty, d);
        return true;
    case 0x03:
    case 0x04:
        d.Event = Byte(req, 1) == 0x03 ? E::F03 : E::F04;
        d.Words = Words(resp, 3, qty);
        return true;
    case 0x05:
        Written(d, E::F05, qty);
        return true;
    case 0x06:
        Written(d, E::F06, qty);
        return true;
    case 0x0F:
        Written(d, E::F0F, qty);
        return true;
    case 0x10:
        Written(d, E::F10, qty);
        return true;
    case 0x14:
        d.Event = E::F14;
        d.Files = ReadFileGroups(req, resp);
        return true;
    case 0x15:
        d.Event = E::F15;
        d.Files = WrittenFileGroups(req);
        return true;
    case 0x6A:
        if (gb) {
            Written(d, E::F6A, qty);
        }
        return true;
    default:
        return false;
    }
}

// The vendor's own codes of the old format.
void DecodeVendor(std::string_view req, std::string_view resp, std::uint16_t qty, TKrDecoded& d) {
    using E = TKrResponseEvent;
    switch (Byte(req, 1)) {
    case 0x28:
        d.Event = E::F28;
        d.Text = std::string(resp.substr(std::min<size_t>(3, resp.size()), qty));
        return;
    case 0x29:
        Written(d, E::F29, qty);
        return;
    case 0x83:
        d.Event = E::F83;
        d.Words = Words(resp, 6, qty);
        return;
    case 0x85:
        Written(d, E::F85, qty);
        return;
    case 0x91:
        d.Event = E::F91;
        return;
    case 0xB0:
        Written(d, E::FB0, qty);
        return;
    case 0xC3:
        d.Event = E::FC3;
        d.DevStatus = static_cast<std::uint16_t>(Word(resp, 4));
        d.RTDLength = static_cast<std::uint16_t>(Word(resp, 6));
        d.Words = Words(resp, 8, qty);
        return;
    case 0xC4:
        // The status query names its slave in the response, not in the request.
        d.Event = E::FC4;
        d.Slave = static_cast<std::uint8_t>(Byte(resp, 2));
        d.DevStatus = static_cast<std::uint16_t>(Word(resp, 3));
        return;
    default:
        return;
    }
}

} // namespace

TKrDecoded DecodeResponse(const TKrCodecSettings& settings, std::string_view req,
                          std::string_view resp) {
    const bool gb = settings.ProtocolVersion == pvGB19582_2008;
    TKrDecoded d;
    d.Slave = static_cast<std::uint8_t>(Byte(req, 0));
    d.StartAddr = static_cast<std::uint16_t>(Word(req, 2));
    const auto qty = static_cast<std::uint16_t>(Word(req, 4));
    // The GB parser accepts other codes generically; they have no event of their own.
    if (!DecodeStandard(req, resp, qty, gb, d) && !gb) {
        DecodeVendor(req, resp, qty, d);
    }
    return d;
}

TKrResponseOutcome EvaluateResponse(const TKrCodecSettings& settings, const TKrExchange& x) {
    using K = TKrErrorKind;
    TKrResponseOutcome o;
    const bool gb = settings.ProtocolVersion == pvGB19582_2008;
    const auto length = static_cast<long long>(x.Received.size());
    if (gb) {
        o.NoResponse = x.Received.empty();
        if (x.Broadcast || x.ResponseLength <= 0) {
            return o;
        }
        if (o.NoResponse) {
            return Failed(std::move(o), K::NoResponse);
        }
        // A line error spoiled some byte: whatever arrived cannot be trusted.
        if (x.LineError || (length < x.ResponseLength && length < x.ExceptionLength)) {
            return Failed(std::move(o), K::BadFrame);
        }
    } else {
        // The old format has no exception frames: anything shorter is no response at all.
        if (x.ResponseLength <= 0) {
            return o;
        }
        if (length < x.ResponseLength) {
            return Failed(std::move(o), K::NoResponse);
        }
    }
    // The codec accepts only a frame of the full expected length (normal or exception), so a
    // frame whose check field happens to fit but which is shorter than its request promises
    // never reaches the decoders.
    o.Extracted = true;
    if (!ExtractResponse(settings, x.Request, x.ResponseLength, x.ExceptionLength, x.Received,
                         o.ValidResponse)) {
        return Failed(std::move(o), K::BadFrame);
    }
    if (!ResponseFitsRequest(settings, x.Request, o.ValidResponse, o.ExceptionCode)) {
        if (o.ExceptionCode == -1) {
            return Failed(std::move(o), K::Mismatch);
        }
        o.Kind = TKrResponseOutcome::TKind::Exception;
        o.ErrorKind = K::Exception;
        return o;
    }
    o.Kind = TKrResponseOutcome::TKind::Response;
    o.Decoded = DecodeResponse(settings, x.Request, o.ValidResponse);
    return o;
}
