// Arbitrary bytes on the line must never crash the meter or leave it with a setting
// outside what it accepts.
#include "FrameAssembler.h"
#include "MeterModel.h"
#include "SlaveProtocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kt580sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte picks the firmware, so every layout is exercised.
    static const char* const versions[] = {"", "3.05", "3.10", "3.20", "3.85", "4.00"};
    TIdentity identity;
    identity.SoftwareVersion = versions[data[0] % 6];
    TMeterModel meter(identity, 1, 19200, TMeterParity::None1);
    TFrameAssembler assembler;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    // Feed in pieces whose sizes also come from the input, with a silence after each.
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t piece = 1 + static_cast<uint8_t>(bytes[at]) % 16;
        assembler.Feed(bytes.substr(at, piece));
        at += piece;
        const bool silence = (piece % 3) == 0;
        while (auto frame = assembler.Next(silence)) {
            const TReply reply = HandleRequest(meter, *frame, meter.Address());
            if (reply.Kind == TReply::Answer && reply.Bytes.size() < 5) {
                std::abort();
            }
        }
    }
    const TLayout layout = meter.Layout();
    std::vector<uint16_t> all;
    for (const auto& [r, value] : meter.Settings()) {
        all.push_back(r);
    }
    if (!CheckSettings(meter.Settings(), all, layout).empty()) {
        std::abort();
    }
    return 0;
}
