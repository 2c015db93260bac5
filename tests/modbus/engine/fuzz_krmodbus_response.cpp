// Any query text with any received bytes, in every mode: the master's checks and decoders must
// never read outside the response, whatever the line delivers.
#include "ModbusProbe.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QStringList sink;
    static TModbusProbe* probe = [] {
        static TModbusProbe p;
        RecordEvents(p, sink);
        p.OnAfterResponse = [](TKrModbus&) { sink.clear(); };
        return &p;
    }();
    if (size < 2) {
        return 0;
    }
    const uint8_t flags = data[0];
    const size_t textLength = std::min<size_t>(data[1], size - 2);
    const std::string text(reinterpret_cast<const char*>(data + 2), textLength);
    const std::string received(reinterpret_cast<const char*>(data + 2 + textLength),
                               size - 2 - textLength);
    probe->SetMode((flags & 1) != 0 ? tmAscii : tmRtu);
    probe->SetProtocolVersion((flags & 2) != 0 ? pvOldFormat : pvGB19582_2008);
    probe->SetEndCheck((flags & 4) == 0);
    probe->Run(text, received, (flags & 8) != 0 ? 0x04 : 0);
    return 0;
}
