// Meters on the shared line that misbehave on their own (--meter-fault): one that never answers,
// one that takes its own time to begin an answer, one whose answers fail their check. A master
// polling several meters must tell them apart from the meters that answer well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt580sim {

struct TMeterFault {
    enum TKind : uint8_t { Silent, Slow, Garble };
    uint8_t Address = 1;
    TKind Kind = Silent;
    int SlowMs = 0; // Slow: the turnaround of this meter
};

// What the faults given for one address add up to.
struct TMeterBehaviour {
    bool Silent = false;
    bool Garble = false;
    std::optional<int> TurnaroundMs;
};

// "A:silent", "A:slow=MS" or "A:garble" into `fault`; false for anything else.
bool ParseMeterFault(const std::string& text, TMeterFault& fault);

TMeterBehaviour BehaviourOf(const std::vector<TMeterFault>& faults, uint8_t address);

// Spoils the check field of an answer, so it fails as a line hit would make it fail.
void GarbleCheck(std::string& answer);

} // namespace kt580sim
