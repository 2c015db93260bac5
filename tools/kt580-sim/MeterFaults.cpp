#include "MeterFaults.h"

#include <charconv>

namespace kt580sim {

namespace {

bool WholeNumber(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end && value >= low && value <= high;
}

} // namespace

bool ParseMeterFault(const std::string& text, TMeterFault& fault) {
    const auto colon = text.find(':');
    int address = 0;
    if (colon == std::string::npos || !WholeNumber(text.substr(0, colon), 1, 247, address)) {
        return false;
    }
    fault.Address = static_cast<uint8_t>(address);
    const std::string kind = text.substr(colon + 1);
    if (kind == "silent") {
        fault.Kind = TMeterFault::Silent;
        return true;
    }
    if (kind == "garble") {
        fault.Kind = TMeterFault::Garble;
        return true;
    }
    fault.Kind = TMeterFault::Slow;
    return kind.rfind("slow=", 0) == 0 && WholeNumber(kind.substr(5), 0, 10000, fault.SlowMs);
}

TMeterBehaviour BehaviourOf(const std::vector<TMeterFault>& faults, uint8_t address) {
    TMeterBehaviour behaviour;
    for (const TMeterFault& fault : faults) {
        if (fault.Address != address) {
            continue;
        }
        switch (fault.Kind) {
        case TMeterFault::Silent:
            behaviour.Silent = true;
            break;
        case TMeterFault::Garble:
            behaviour.Garble = true;
            break;
        case TMeterFault::Slow:
            behaviour.TurnaroundMs = fault.SlowMs;
            break;
        }
    }
    return behaviour;
}

void GarbleCheck(std::string& answer) {
    if (!answer.empty()) {
        answer.back() = static_cast<char>(static_cast<uint8_t>(answer.back()) ^ 0xFF);
    }
}

} // namespace kt580sim
