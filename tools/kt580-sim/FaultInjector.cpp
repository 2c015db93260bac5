#include "FaultInjector.h"

#include <algorithm>

namespace kt580sim {

namespace {
const char* const Names[FaultKinds] = {"noise", "crc", "drop", "truncate", "split"};
}

const char* FaultName(TFaultKind kind) {
    return Names[static_cast<int>(kind)];
}

bool FaultFromName(const std::string& name, TFaultKind& kind) {
    for (int i = 0; i < FaultKinds; ++i) {
        if (name == Names[i]) {
            kind = static_cast<TFaultKind>(i);
            return true;
        }
    }
    return false;
}

TFaultInjector::TFaultInjector(std::array<double, FaultKinds> rates, uint64_t seed)
    : FRates(rates), FRandom(seed) {}

int TFaultInjector::Uniform(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(FRandom);
}

bool TFaultInjector::Roll(TFaultKind kind) {
    const double rate = FRates[static_cast<int>(kind)];
    if (rate <= 0) {
        return false;
    }
    const bool hit = rate >= 1 || std::uniform_real_distribution<double>(0, 1)(FRandom) < rate;
    if (hit) {
        ++FCounts[static_cast<int>(kind)];
    }
    return hit;
}

std::vector<TPiece> TFaultInjector::Shape(const std::string& answer, uint8_t address) {
    if (Roll(TFaultKind::Drop)) {
        return {};
    }
    std::string bytes = answer;
    if (bytes.size() >= 2 && Roll(TFaultKind::Crc)) {
        const std::size_t at = bytes.size() - 1 - static_cast<std::size_t>(Uniform(0, 1));
        bytes[at] = static_cast<char>(static_cast<uint8_t>(bytes[at]) ^ Uniform(1, 255));
    }
    if (bytes.size() >= 2 && Roll(TFaultKind::Truncate)) {
        bytes.resize(static_cast<std::size_t>(Uniform(1, static_cast<int>(bytes.size()) - 1)));
    }
    if (Roll(TFaultKind::Noise)) {
        std::string noise;
        const int count = Uniform(1, 8);
        while (static_cast<int>(noise.size()) < count) {
            const int value = Uniform(0, 255);
            if (value != address) {
                noise.push_back(static_cast<char>(value));
            }
        }
        bytes = noise + bytes;
    }
    std::vector<TPiece> pieces;
    if (bytes.size() >= 2 && Roll(TFaultKind::Split)) {
        const int parts = std::min<int>(Uniform(2, 3), static_cast<int>(bytes.size()));
        std::vector<std::size_t> cuts;
        while (static_cast<int>(cuts.size()) < parts - 1) {
            const auto cut =
                static_cast<std::size_t>(Uniform(1, static_cast<int>(bytes.size()) - 1));
            if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) {
                cuts.push_back(cut);
            }
        }
        std::sort(cuts.begin(), cuts.end());
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            pieces.push_back({bytes.substr(from, cut - from),
                              pieces.empty() ? 0 : Uniform(SplitGapMinMs, SplitGapMaxMs)});
            from = cut;
        }
        pieces.push_back({bytes.substr(from), Uniform(SplitGapMinMs, SplitGapMaxMs)});
    } else {
        pieces.push_back({bytes, 0});
    }
    return pieces;
}

} // namespace kt580sim
