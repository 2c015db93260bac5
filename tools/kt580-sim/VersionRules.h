// Which register layout a meter firmware has, decided by its software version text
// exactly as the utility decides it, so the simulator never offers what the utility
// would not expect.
#pragma once

#include <string>

namespace kt580sim {

// Version >= "3.10" and (< "3.80" or >= "4.00"), byte-wise comparison; "" has neither layout.
bool HasExtendedLayout(const std::string& version);

// Version >= "3.20".
bool HasRelayAlarmLayout(const std::string& version);

} // namespace kt580sim
