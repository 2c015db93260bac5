// The meter's own memory kept across runs: settings, energy counters and relay states as
// "key=value" lines, replaced atomically so a crash never leaves half a file.
#pragma once

#include "MeterModel.h"

#include <string>

namespace kt580sim {

std::string SerializeState(const TMeterModel& meter);

// Applies a saved state to the meter. Unknown keys are skipped (a file of a meter with a
// larger layout); a malformed line or a value the meter refuses fails with `error`.
bool ApplyState(const std::string& text, TMeterModel& meter, std::string& error);

// Writes through a temporary file in the same folder, synced, then renamed over `path`.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

// The largest state file read: the meter's memory takes a few kilobytes.
inline constexpr long MaxStateFileBytes = 1 << 20;

// False with `error` when the file exists but cannot be read, is not a regular file (a FIFO
// would block, a device never end) or is larger than MaxStateFileBytes; a missing file is
// empty text.
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);

} // namespace kt580sim
