// Register blocks of any length and content through the link's decoders: whatever the meter
// sends, decoding never reads past the block, identity texts stay printable where they are
// cleaned, and the ratios stay as they were when a divisor is 0.
#include "link/TrafficStats.h"
#include "meter/RegisterDecode.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

bool Printable(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() > 126)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint16_t> regs;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        regs.push_back(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]));
    // Exactly the lengths a valid response can have, and every other length too.
    const std::span<const std::uint16_t> block(regs);

    const double pt = size > 0 ? data[0] : 1.0;
    TScaling scale{pt, 1.0, size > 1 ? data[1] : 0};
    const auto texts = MeasurementTexts(scale, block);
    for (std::size_t i = 0; i < texts.size(); ++i)
        Require(texts[i].isEmpty() == (i >= block.size()));

    std::array<QString, EnergyCount> energy;
    const int filled = EnergyTexts(block, energy);
    Require(filled >= 0 && filled <= EnergyCount);
    Require(static_cast<std::size_t>(2 * filled) <= block.size());

    const TIdentity id = DecodeIdentity(block);
    Require(Printable(id.HardVersion) && Printable(id.SoftVersion));
    Require(id.SoftVersion.size() <= 4 && id.HardVersion.size() <= 4);
    Require(id.ReleaseDate.size() == 10);

    const QString serial = DecodeSerialNumber(block);
    Require(serial.size() <= 32 && !serial.contains(QChar(u'\0')));

    TRatioState state;
    TScaling before = scale;
    UpdateRatios(block, state, scale);
    if (block.size() >= 10) {
        Require(state.LastPT2 == block[7] && state.LastCT2 == block[9]);
        if (block[7] == 0)
            Require(scale.PTRatio == before.PTRatio);
        if (block[9] == 0)
            Require(scale.CTRatio == before.CTRatio);
    } else {
        Require(scale.PTRatio == before.PTRatio && scale.CTRatio == before.CTRatio);
    }

    TTrafficStats traffic;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    traffic.FrameSent(bytes);
    traffic.DataReceived(bytes);
    Require(traffic.TxText().size() <= 6 + 8 * 3 + 3);
    Require(BytesToHex(bytes).size() == static_cast<qsizetype>(3 * size));
    return 0;
}
