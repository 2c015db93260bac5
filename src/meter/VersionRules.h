// The meter's software version decides its register layouts. Versions are compared as text,
// character by character; an empty version (nothing read yet) satisfies no rule.
#pragma once

#include <QString>

// 12 energy registers, blocks 0x1208 and the reset register 0x110D, seven baud rates.
bool ExtendedLayout(const QString& version);
// Block 0x120A and the relay 1 alarm fields in block 0x1200.
bool RelayAlarmLayout(const QString& version);
