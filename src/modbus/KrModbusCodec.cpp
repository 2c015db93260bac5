#include "modbus/KrModbusCodec.h"

#include <algorithm>
#include <string_view>

namespace {

// Largest request or response the old-format meters accept, in bytes without check field.
constexpr int OldFrameLimit = 254;
// The old format's limit for the two vendor reads that may return long blocks.
constexpr int OldLongResponseLimit = 65534;

constexpr uint8_t FnReadFileRecord = 0x14;
constexpr uint8_t FnWriteFileRecord = 0x15;
constexpr uint8_t FnReadString = 0x28;
constexpr uint8_t FnWriteString = 0x29;
constexpr uint8_t ExceptionBit = 0x80;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool HexPair(char high, char low, uint8_t& value) {
    const int h = HexDigit(high);
    const int l = HexDigit(low);
    if (h < 0 || l < 0) {
        return false;
    }
    value = static_cast<uint8_t>(h << 4 | l);
    return true;
}

void AppendHex(std::string& text, uint8_t value) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    text.push_back(Digits[value >> 4]);
    text.push_back(Digits[value & 0x0F]);
}

void LowerLetters(std::string& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
}

uint8_t Byte(std::string_view s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}
int Word(std::string_view s, size_t i) {
    return Byte(s, i) << 8 | Byte(s, i + 1);
}

// Lengths in bytes without check field, as the parsers compute them.
struct TByteLengths {
    int Request = 0;
    int Response = 0;
    int Exception = 0;
};

// Hex pairs, one separator of any kind after each. With the old format, a string write (0x29)
// carries its payload as raw text after the sixth byte.
bool TextToBytes(std::string_view text, bool oldFormat, std::string& request) {
    request.clear();
    size_t pos = 0;
    while (pos + 2 <= text.size()) {
        uint8_t value = 0;
        if (!HexPair(text[pos], text[pos + 1], value)) {
            return false;
        }
        request.push_back(static_cast<char>(value));
        pos += 3;
        if (oldFormat && request.size() == 6 && Byte(request, 1) == FnWriteString) {
            if (pos < text.size()) {
                request.append(text.substr(pos));
            }
            break;
        }
    }
    return true;
}

int CeilDiv8(int value) {
    return (value + 7) / 8;
}

// Response length of a file-record read: each of the B/7 sub-requests returns its L words plus
// a length byte and a reference byte. The old format refuses empty records and long answers.
bool FileReadResponseLength(std::string_view r, int b, bool oldFormat, int& response) {
    response = 3;
    const size_t subRequests = static_cast<size_t>(b) / 7;
    for (size_t i = 0; i < subRequests; ++i) {
        const int l = Word(r, 7 * i + 8);
        if (oldFormat && l == 0) {
            return false;
        }
        response += 2 * l + 2;
        if (oldFormat && response > OldFrameLimit) {
            return false;
        }
    }
    return true;
}

// A file-record write must consist of whole sub-requests (7 header bytes plus 2·L data bytes)
// that fill its byte count exactly, or the meter would take data bytes for headers.
bool FileWriteWalkFits(std::string_view r, int b, bool oldFormat) {
    const int end = b + 3;
    int p = 3;
    while (p < end) {
        if (p + 7 > end) {
            return false;
        }
        const int l = Word(r, static_cast<size_t>(p) + 5);
        if (oldFormat && l == 0) {
            return false;
        }
        p += 7 + 2 * l;
        if (oldFormat && p > OldFrameLimit) {
            return false;
        }
    }
    return p == end;
}

// File-record requests: a byte count of whole sub-requests, all of them in the text. The old
// format also bounds the frame and wants reads made of whole 7-byte sub-requests.
bool ParseFileRecord(std::string_view r, bool oldFormat, int exception, TByteLengths& len) {
    const size_t n = r.size();
    if (n < 3) {
        return false;
    }
    const bool read = Byte(r, 1) == FnReadFileRecord;
    const int b = Byte(r, 2);
    if (b < 7 || n < static_cast<size_t>(b) + 3) {
        return false;
    }
    if (oldFormat && (b + 3 > OldFrameLimit || (read && b % 7 != 0))) {
        return false;
    }
    if (read) {
        len = {b + 3, 0, exception};
        return FileReadResponseLength(r, b, oldFormat, len.Response);
    }
    len = {b + 3, b + 3, exception};
    return FileWriteWalkFits(r, b, oldFormat);
}

// Old-format reads whose quantity (bytes 4-5) sizes the answer; none may ask for nothing.
bool ParseOldRead(std::string_view r, uint8_t fn, TByteLengths& len) {
    if (r.size() < 6 || Word(r, 4) == 0) {
        return false;
    }
    const int qty = Word(r, 4);
    switch (fn) {
    case 0x01:
    case 0x02:
        len = {6, CeilDiv8(qty) + 3, 0};
        break;
    case 0x03:
    case 0x04:
        len = {6, 2 * qty + 3, 0};
        break;
    case FnReadString:
        len = {6, qty + 3, 0};
        break;
    default: // 0x83, the vendor's long read
        len = {6, 2 * qty + 6, 0};
        return len.Response <= OldLongResponseLimit;
    }
    return len.Response <= OldFrameLimit;
}

// Old-format writes of one coil (0x05 and the vendor's 0x85 and 0xC5) or one register (0x06).
bool ParseOldSingleWrite(std::string_view r, uint8_t fn, TByteLengths& len) {
    if (r.size() < 6) {
        return false;
    }
    if (fn == 0x06) {
        len = {6, 6, 0};
        return true;
    }
    // A coil value other than off or on is refused rather than passed to the meter.
    const int value = Word(r, 4);
    if (value != 0x0000 && value != 0xFF00) {
        return false;
    }
    len = {6, fn == 0xC5 ? 0 : 6, 0};
    return true;
}

// Old-format writes of several coils (0x0F) or registers (0x10, the vendor's 0xB0): the byte
// count must match the quantity.
bool ParseOldMultipleWrite(std::string_view r, uint8_t fn, TByteLengths& len) {
    if (r.size() < 7) {
        return false;
    }
    const int qty = Word(r, 4);
    const int count = Byte(r, 6);
    const int expected = fn == 0x0F ? CeilDiv8(qty) : 2 * qty;
    if (qty == 0 || count != expected || count + 7 > OldFrameLimit) {
        return false;
    }
    len = {count + 7, 6, 0};
    return true;
}

// The vendor's own old-format requests: string write, 0x91, status read 0xC3 and 0xC4.
bool ParseOldVendor(std::string_view r, uint8_t fn, TByteLengths& len) {
    const size_t n = r.size();
    switch (fn) {
    case FnWriteString:
        if (n < 6 || Word(r, 4) == 0 || Word(r, 4) + 6 > OldFrameLimit) {
            return false;
        }
        len = {Word(r, 4) + 6, 6, 0};
        return true;
    case 0x91:
        if (n < 3 || Byte(r, 2) + 3 > OldFrameLimit) {
            return false;
        }
        len = {Byte(r, 2) + 3, 2, 0};
        return true;
    case 0xC3:
        if (n < 6) {
            return false;
        }
        len = {6, 2 * Word(r, 4) + 8, 0};
        return len.Response <= OldLongResponseLimit;
    case 0xC4:
        len = {2, 5, 0};
        return true;
    default:
        return false;
    }
}

bool ParseOldFormat(std::string_view r, TByteLengths& len) {
    const uint8_t fn = Byte(r, 1);
    switch (fn) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case FnReadString:
    case 0x83:
        return ParseOldRead(r, fn, len);
    case 0x05:
    case 0x85:
    case 0xC5:
    case 0x06:
        return ParseOldSingleWrite(r, fn, len);
    case 0x0F:
    case 0x10:
    case 0xB0:
        return ParseOldMultipleWrite(r, fn, len);
    case FnReadFileRecord:
    case FnWriteFileRecord:
        return ParseFileRecord(r, true, 0, len);
    default:
        return ParseOldVendor(r, fn, len);
    }
}

// Nothing answers a broadcast, so only writes may be broadcast.
bool ParseGbBroadcast(std::string_view r, TByteLengths& len) {
    const size_t n = r.size();
    const uint8_t fn = Byte(r, 1);
    switch (fn) {
    case 0x05:
    case 0x06:
        if (n < 6) {
            return false;
        }
        len = {6, 0, 0};
        return true;
    case 0x0F: {
        if (n < 7) {
            return false;
        }
        const int qty = Word(r, 4);
        const int count = Byte(r, 6);
        if (qty == 0 || CeilDiv8(qty) != count) {
            return false;
        }
        len = {count + 7, 0, 0};
        return true;
    }
    case 0x10:
    case 0x6A: {
        if (n < 7) {
            return false;
        }
        const int qty = Word(r, 4);
        const int count = Byte(r, 6);
        if (qty == 0 || count != 2 * qty) {
            return false;
        }
        len = {count + 7, 0, 0};
        return true;
    }
    case FnWriteFileRecord: {
        if (n < 3) {
            return false;
        }
        const int b = Byte(r, 2);
        if (b < 7) {
            return false;
        }
        len = {b + 3, 0, 0};
        return true;
    }
    default:
        return false;
    }
}

bool ParseGbUnicast(std::string_view r, TByteLengths& len) {
    const size_t n = r.size();
    const uint8_t fn = Byte(r, 1);
    constexpr int Exception = 3;
    switch (fn) {
    case 0x01:
    case 0x02:
        if (n < 6) {
            return false;
        }
        len = {6, CeilDiv8(Word(r, 4)) + 3, Exception};
        return true;
    case 0x03:
    case 0x04:
        if (n < 6) {
            return false;
        }
        len = {6, 2 * Word(r, 4) + 3, Exception};
        return true;
    case 0x05:
    case 0x06:
        if (n < 6) {
            return false;
        }
        len = {6, 6, Exception};
        return true;
    case 0x0F:
    case 0x10:
    case 0x6A:
        if (n < 7) {
            return false;
        }
        len = {Byte(r, 6) + 7, 6, Exception};
        return true;
    case FnReadFileRecord:
    case FnWriteFileRecord:
        return ParseFileRecord(r, false, Exception, len);
    default:
        // Codes this master does not know go out as written; the answer is taken to be the
        // shortest possible frame.
        len = {static_cast<int>(n), 3, Exception};
        return true;
    }
}

void SetLengthsOnWire(const TKrCodecSettings& settings, uint8_t fn, const TByteLengths& len,
                      TKrQuery& query) {
    int request = len.Request;
    int response = len.Response;
    int exception = len.Exception;
    if (settings.Mode == tmRtu) {
        request += 2;
        if (response > 0) {
            response += 2;
        }
        if (exception > 0) {
            exception += 2;
        }
    } else if (settings.ProtocolVersion == pvOldFormat) {
        // The string payloads of 0x28 and 0x29 travel as raw characters, not as hex pairs.
        request = fn == FnWriteString ? request + 11 : 2 * request + 5;
        if (response > 0) {
            response = fn == FnReadString ? response + 6 : 2 * response + 3;
            if (settings.EndCheck) {
                response += 2;
            }
        }
    } else {
        request = 2 * request + 5;
        if (response > 0) {
            response = 2 * response + 3;
            if (settings.EndCheck) {
                response += 2;
                exception = 2 * exception + 3;
            }
        }
    }
    query.RequestLength = request;
    query.ResponseLength = response;
    query.ExceptionLength = exception;
}

void SetNullQuery(TKrQuery& query) {
    query.Request.clear();
    query.QueryFrame = NullQuery();
    query.RequestLength = 1;
    query.ResponseLength = 0;
    query.ExceptionLength = 0;
}

bool ExtractRtu(const TKrCodecSettings& settings, std::string_view request, int responseLength,
                int exceptionLength, std::string_view response, std::string& validResponse) {
    const uint8_t address = Byte(request, 0);
    const uint8_t fn = Byte(request, 1);
    const bool gb = settings.ProtocolVersion == pvGB19582_2008;
    // A function code that already has the high bit set has no distinct exception code.
    const bool exceptionPossible = gb && fn < ExceptionBit;
    const long long normalLength = responseLength;
    const long long shortLength =
        gb ? std::min<long long>(responseLength, exceptionLength) : normalLength;

    // The start moves over the buffer instead of erasing it, so noise costs linear time.
    size_t start = 0;
    bool exception = false;
    for (;;) {
        const size_t rest = response.size() - start;
        if (rest >= 2 && Byte(response, start) == address) {
            const uint8_t got = Byte(response, start + 1);
            if (got == fn) {
                break;
            }
            if (exceptionPossible && got == (fn | ExceptionBit)) {
                exception = true;
                break;
            }
        }
        // Fewer than two bytes cannot hold a head, whatever lengths the caller gave.
        if (rest < 2 || static_cast<long long>(rest) <= shortLength) {
            return false;
        }
        ++start;
    }

    const long long expected = exception ? exceptionLength : normalLength;
    // Address, function code and CRC at the least; and never fewer bytes than the request
    // promises, so a short frame that happens to carry a valid CRC is not read beyond its end.
    if (expected < 4 || static_cast<long long>(response.size() - start) < expected) {
        return false;
    }
    const size_t body = static_cast<size_t>(expected) - 2;
    const uint16_t crc = CalcCRC16(reinterpret_cast<const uint8_t*>(response.data()) + start, body);
    if (Byte(response, start + body) != (crc & 0xFF) ||
        Byte(response, start + body + 1) != crc >> 8) {
        return false;
    }
    validResponse.assign(response.substr(start, body));
    return true;
}

// Finds the ':' that starts the response: with the end check, one whose frame of the expected
// length ends in CR LF. False when no such start fits in what has arrived.
bool FindAsciiStart(const TKrCodecSettings& settings, std::string_view response, size_t expected,
                    size_t& start) {
    start = 0;
    for (;;) {
        const size_t rest = response.size() - start;
        if (rest >= 1 && response[start] == ':') {
            if (!settings.EndCheck) {
                return true;
            }
            if (rest >= expected && response[start + expected - 2] == '\r' &&
                response[start + expected - 1] == '\n') {
                return true;
            }
        }
        if (rest <= expected) {
            return false;
        }
        ++start;
    }
}

// The hex pairs of an ASCII frame as bytes. The string of a 0x28 answer follows its three
// header bytes as raw characters.
bool AsciiTextToBytes(std::string_view text, bool rawString, std::string& bytes) {
    bytes.clear();
    bytes.reserve(text.size() / 2);
    size_t i = 0;
    while (i < text.size()) {
        uint8_t value = 0;
        if (text.size() - i < 2 || !HexPair(text[i], text[i + 1], value)) {
            return false;
        }
        bytes.push_back(static_cast<char>(value));
        i += 2;
        if (rawString && bytes.size() == 3) {
            bytes.append(text.substr(i));
            break;
        }
    }
    return true;
}

bool ExtractAscii(const TKrCodecSettings& settings, std::string_view request, int responseLength,
                  std::string_view response, std::string& validResponse) {
    if (responseLength < 3) {
        return false;
    }
    const size_t expected = static_cast<size_t>(responseLength);
    size_t start = 0;
    // Without the end check the frame still has to be complete, or its data would be missing.
    if (!FindAsciiStart(settings, response, expected, start) ||
        response.size() - start < expected) {
        return false;
    }
    const size_t bodyLength = settings.EndCheck ? expected - 3 : expected - 1;
    const std::string_view body = response.substr(start + 1, bodyLength);
    if (body.size() < 2) {
        return false;
    }
    uint8_t receivedLrc = 0;
    if (!HexPair(body[body.size() - 2], body[body.size() - 1], receivedLrc)) {
        return false;
    }
    std::string bytes;
    if (!AsciiTextToBytes(body.substr(0, body.size() - 2), Byte(request, 1) == FnReadString,
                          bytes) ||
        CalcLRC(bytes) != receivedLrc) {
        return false;
    }
    if (bytes.size() < 2 || bytes[0] != request[0] || bytes[1] != request[1]) {
        return false;
    }
    validResponse = std::move(bytes);
    return true;
}

} // namespace

std::string NullQuery() {
    return std::string(1, NullQueryChar);
}

bool IsNullQuery(std::string_view frame) {
    return frame.size() == 1 && frame[0] == NullQueryChar;
}

bool ParseQuery(std::string_view text, const TKrCodecSettings& settings, TKrQuery& query) {
    const bool oldFormat = settings.ProtocolVersion == pvOldFormat;
    query.Broadcast = false;
    std::string request;
    if (!TextToBytes(text, oldFormat, request) || request.size() < 2) {
        SetNullQuery(query);
        return false;
    }
    TByteLengths len;
    bool ok = false;
    if (oldFormat) {
        ok = ParseOldFormat(request, len);
    } else {
        query.Broadcast = Byte(request, 0) == 0;
        ok = query.Broadcast ? ParseGbBroadcast(request, len) : ParseGbUnicast(request, len);
    }
    // Cutting a request to its length must never pad it: zero bytes would be written into the
    // meter's registers.
    if (!ok || static_cast<size_t>(len.Request) > request.size()) {
        SetNullQuery(query);
        return false;
    }
    request.resize(static_cast<size_t>(len.Request));
    const uint8_t fn = Byte(request, 1);
    query.Request = std::move(request);
    SetLengthsOnWire(settings, fn, len, query);
    return true;
}

std::string BuildRtuFrame(std::string_view request) {
    const uint16_t crc = CalcCRC16(request);
    std::string frame(request);
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

std::string BuildAsciiFrame(std::string_view request, TProtocolVersion version,
                            TAsciiMode asciiOutput) {
    const bool rawString =
        version == pvOldFormat && request.size() >= 6 && Byte(request, 1) == FnWriteString;
    const size_t hexBytes = rawString ? 6 : request.size();
    std::string frame;
    frame.reserve(2 * request.size() + 5);
    frame.push_back(':');
    for (size_t i = 0; i < hexBytes; ++i) {
        AppendHex(frame, Byte(request, i));
    }
    if (asciiOutput == amLowerCase) {
        LowerLetters(frame);
    }
    // The raw string keeps its letter case: it is the operator's data, and the LRC is taken
    // over it as written.
    if (rawString) {
        frame.append(request.substr(6));
    }
    std::string lrc;
    AppendHex(lrc, CalcLRC(request));
    if (asciiOutput == amLowerCase) {
        LowerLetters(lrc);
    }
    frame += lrc;
    frame += "\r\n";
    return frame;
}

TKrQuery BuildQueryFrame(std::string_view text, const TKrCodecSettings& settings) {
    TKrQuery query;
    if (!ParseQuery(text, settings, query)) {
        return query;
    }
    query.QueryFrame =
        settings.Mode == tmRtu
            ? BuildRtuFrame(query.Request)
            : BuildAsciiFrame(query.Request, settings.ProtocolVersion, settings.AsciiOutput);
    return query;
}

bool ExtractResponse(const TKrCodecSettings& settings, std::string_view currentRequest,
                     int responseLength, int exceptionLength, std::string_view response,
                     std::string& validResponse) {
    if (currentRequest.size() < 2 || responseLength <= 0) {
        return false;
    }
    if (settings.Mode == tmRtu) {
        return ExtractRtu(settings, currentRequest, responseLength, exceptionLength, response,
                          validResponse);
    }
    return ExtractAscii(settings, currentRequest, responseLength, response, validResponse);
}

bool ExtractResponse(const TKrCodecSettings& settings, const TKrQuery& current,
                     std::string_view response, std::string& validResponse) {
    return ExtractResponse(settings, current.Request, current.ResponseLength,
                           current.ExceptionLength, response, validResponse);
}
