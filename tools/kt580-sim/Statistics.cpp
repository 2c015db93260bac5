#include "Statistics.h"

namespace kt580sim {

std::string TStatistics::Summary(const std::array<uint64_t, FaultKinds>& faults) const {
    std::string out;
    const auto line = [&](const std::string& name, uint64_t value) {
        out += name + "=" + std::to_string(value) + "\n";
    };
    line("requests", Requests);
    line("answers", Answers);
    for (int code = 1; code <= 4; ++code) {
        line("exception0" + std::to_string(code), Exceptions[code]);
    }
    for (int kind = 0; kind < FaultKinds; ++kind) {
        line(std::string("fault_") + FaultName(static_cast<TFaultKind>(kind)), faults[kind]);
    }
    line("broadcasts", Broadcasts);
    line("other_address", OtherAddress);
    line("line_mismatch", LineMismatch);
    line("discarded_bytes", DiscardedBytes);
    return out;
}

} // namespace kt580sim
