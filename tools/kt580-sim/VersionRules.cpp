#include "VersionRules.h"

namespace kt580sim {

// std::string compares by unsigned byte values, a prefix being the smaller: the rule wanted.
bool HasExtendedLayout(const std::string& version) {
    return version >= "3.10" && (version < "3.80" || version >= "4.00");
}

bool HasRelayAlarmLayout(const std::string& version) {
    return version >= "3.20";
}

} // namespace kt580sim
