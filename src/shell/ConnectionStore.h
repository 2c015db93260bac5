// The connection values that persist per user between runs: port, line settings, scan
// interval and device address, loaded into the link and its master once at start-up and
// saved from them when the main window closes.
#pragma once

class TFormModbus;

namespace ConnectionStore {

// Applies the stored values in their fixed order and stops, silently, at the first one that
// is missing or that the program could never have written; the values before it stay
// applied. Without any stored values nothing changes, and a store that is not a regular file
// (a FIFO, a device) is neither read nor written.
void Load(TFormModbus& link);

// Writes the six values; a store that cannot be written is not reported.
void Save(const TFormModbus& link);

// The scan interval's bounds, shared with the dialog that edits it.
inline constexpr int MinQueryInterval = 0;
inline constexpr int MaxQueryInterval = 60000;

} // namespace ConnectionStore
