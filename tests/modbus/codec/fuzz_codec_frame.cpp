// Arbitrary query texts through parse and framing. The first byte picks the settings.
#include "FuzzInput.h"

#include <cstdlib>
#include <cstring>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The byte that the hex pair at text[pos] stands for, or -1.
int PairAt(std::string_view text, size_t pos) {
    if (pos + 2 > text.size()) {
        return -1;
    }
    const int h = HexValue(text[pos]);
    const int l = HexValue(text[pos + 1]);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const TKrCodecSettings settings = SettingsFromFlags(data[0]);
    const bool oldFormat = settings.ProtocolVersion == pvOldFormat;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const TKrQuery query = BuildQueryFrame(text, settings);
    if (IsNullQuery(query.QueryFrame)) {
        Require(query.QueryFrame.size() == 1 && query.QueryFrame[0] == '\0');
        Require(query.Request.empty());
        Require(query.RequestLength == 1 && query.ResponseLength == 0 &&
                query.ExceptionLength == 0);
        Require(!query.Broadcast || !oldFormat);
        return 0;
    }

    const std::string& request = query.Request;
    const std::string& frame = query.QueryFrame;
    Require(request.size() >= 2);
    Require(int(frame.size()) == query.RequestLength);
    Require(query.ResponseLength >= 0 && query.ExceptionLength >= 0);
    Require(query.Broadcast == (!oldFormat && request[0] == '\0'));
    if (query.Broadcast) {
        Require(query.ResponseLength == 0 && query.ExceptionLength == 0);
    }
    if (oldFormat) {
        Require(request.size() <= 254 && query.ExceptionLength == 0);
    }

    // Every request byte comes from the text, never from padding: pair i is at 3i, and the
    // raw string of an old-format 0x29 follows the sixth separator.
    const bool rawString = oldFormat && uint8_t(request[1]) == 0x29;
    const size_t pairs = rawString ? 6 : request.size();
    for (size_t i = 0; i < pairs; ++i) {
        Require(PairAt(text, 3 * i) == uint8_t(request[i]));
    }
    if (rawString) {
        Require(text.size() >= 18 && text.substr(18, request.size() - 6) == request.substr(6));
    }

    if (settings.Mode == tmRtu) {
        Require(frame.size() == request.size() + 2);
        Require(std::string_view(frame).substr(0, request.size()) == request);
        const uint16_t crc = CalcCRC16(request);
        Require(uint8_t(frame[frame.size() - 2]) == (crc & 0xFF));
        Require(uint8_t(frame[frame.size() - 1]) == (crc >> 8));
    } else {
        Require(frame.size() >= 7 && frame[0] == ':');
        Require(frame.substr(frame.size() - 2) == "\r\n");
        const size_t lrcAt = frame.size() - 4;
        Require(PairAt(frame, lrcAt) == CalcLRC(request));
        for (size_t i = 0; i < pairs; ++i) {
            Require(PairAt(frame, 1 + 2 * i) == uint8_t(request[i]));
        }
        if (rawString) {
            Require(frame.substr(13, request.size() - 6) == request.substr(6));
        }
        // Letter case is chosen for the whole hex part.
        for (size_t i = 0; i < 1 + 2 * pairs; ++i) {
            const char c = frame[i];
            Require(settings.AsciiOutput == amLowerCase ? !(c >= 'A' && c <= 'F')
                                                        : !(c >= 'a' && c <= 'f'));
        }
    }

    // Our own frame received back is either our echo or refused; never out of bounds.
    std::string valid;
    if (ExtractResponse(settings, query, frame, valid)) {
        Require(valid.size() >= 2 && valid[0] == request[0]);
    }
    return 0;
}
