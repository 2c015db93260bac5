// Arbitrary TCP streams into the Modbus TCP decoder, cut into chunks where the input says. The
// first byte picks the transaction the master waits for (odd: any).
#include "modbus/MbapFrame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Checks a frame handed out against the bytes it came from.
void CheckFrame(const TMbapResult& r, std::uint8_t expected, bool any) {
    Require(!r.Frame.Pdu.empty() && r.Frame.Pdu.size() <= MaxPduSize);
    Require((r.Status == TMbapStatus::OtherTransaction) ==
            (!any && r.Frame.TransactionId != expected));
    const std::string again = EncodeMbap(r.Frame.TransactionId, r.Frame.UnitId, r.Frame.Pdu);
    Require(again.size() == MbapHeaderSize + r.Frame.Pdu.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t expected = data[0];
    const bool any = (expected & 1) != 0;
    const std::size_t chunk = std::size_t(data[1]) + 1;
    data += 2;
    size -= 2;
    // An exactly sized copy, so the address sanitizer sees a read past the end.
    auto stream = std::make_unique<char[]>(size);
    if (size > 0)
        std::memcpy(stream.get(), data, size);

    TMbapDecoder decoder;
    if (!any)
        decoder.Expect(expected);
    std::size_t at = 0;
    bool broken = false;
    while (at < size && !broken) {
        const std::size_t piece = std::min(chunk, size - at);
        const std::size_t taken = decoder.Feed(std::string_view(stream.get() + at, piece));
        at += taken;
        Require(decoder.Buffered() <= MaxAduSize);
        for (TMbapResult r = decoder.Next(); r.Status != TMbapStatus::NeedMore;
             r = decoder.Next()) {
            if (IsStreamBroken(r.Status)) {
                broken = true;
                break;
            }
            CheckFrame(r, expected, any);
        }
        // Only a broken stream may refuse bytes while it holds no whole frame.
        Require(broken || taken > 0);
    }
    return 0;
}
