// Arbitrary receive buffers against arbitrary requests. The first byte picks the settings and
// whether the request comes from a parsed text or from raw bytes with raw lengths.
#include "FuzzInput.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const TKrCodecSettings settings = SettingsFromFlags(data[0]);
    const bool rawRequest = (data[0] & 16) != 0;
    size_t requestSize = data[1];
    data += 2;
    size -= 2;
    if (requestSize > size) {
        requestSize = size;
    }

    std::string request;
    int responseLength = 0;
    int exceptionLength = 0;
    if (rawRequest) {
        // Raw request: two length bytes each, then the request bytes.
        if (requestSize < 4) {
            return 0;
        }
        responseLength = data[0] | data[1] << 8;
        exceptionLength = data[2] | data[3] << 8;
        request.assign(reinterpret_cast<const char*>(data) + 4, requestSize - 4);
    } else {
        const TKrQuery query = BuildQueryFrame(
            std::string_view(reinterpret_cast<const char*>(data), requestSize), settings);
        request = query.Request;
        responseLength = query.ResponseLength;
        exceptionLength = query.ExceptionLength;
    }

    // The buffer is copied to an exactly sized heap block so that any read past its end is
    // caught by the address sanitizer.
    const size_t bufferSize = size - requestSize;
    auto buffer = std::make_unique<char[]>(bufferSize);
    if (bufferSize > 0) {
        std::memcpy(buffer.get(), data + requestSize, bufferSize);
    }
    const std::string_view response(buffer.get(), bufferSize);

    std::string valid = "before";
    const bool ok =
        ExtractResponse(settings, request, responseLength, exceptionLength, response, valid);
    if (!ok) {
        Require(valid == "before");
        return 0;
    }
    Require(request.size() >= 2 && valid.size() >= 2);
    Require(valid[0] == request[0]);
    const uint8_t fn = uint8_t(request[1]);
    const uint8_t got = uint8_t(valid[1]);
    if (settings.Mode == tmAscii) {
        Require(got == fn);
        Require(response.find(':') != std::string_view::npos);
        if (!rawRequest) {
            // Exactly as many bytes as the request promises: the string of an old-format 0x28
            // answer travels raw, everything else as hex pairs.
            const int endChars = settings.EndCheck ? 2 : 0;
            const bool rawText = settings.ProtocolVersion == pvOldFormat && fn == 0x28;
            Require(int(valid.size()) == (rawText ? responseLength - 6 - endChars
                                                  : (responseLength - 3 - endChars) / 2));
        }
    } else {
        const bool exception = got != fn;
        Require(!exception ||
                (settings.ProtocolVersion == pvGB19582_2008 && fn < 0x80 && got == (fn | 0x80)));
        // Exactly the expected length, and the frame with its CRC is really in the buffer.
        Require(int(valid.size()) == (exception ? exceptionLength : responseLength) - 2);
        const std::string frame = BuildRtuFrame(valid);
        Require(response.find(frame) != std::string_view::npos);
    }
    return 0;
}
