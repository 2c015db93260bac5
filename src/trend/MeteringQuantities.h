// The quantities of the metering rotation as the trend chart and the recordings see them:
// name and unit as the metering page shows them, the block and register they come from, and
// their value scaled as on the page.
#pragma once

#include "meter/MeterReading.h"
#include "meter/Scaling.h"

#include <QString>

#include <optional>
#include <span>
#include <vector>

struct TQuantity {
    QString Name; // the caption on the metering page, without a trailing colon
    TMeteringBlock Block;
    int Offset;   // register (or bit) offset in its block
    bool Numeric; // false for the load type character and the on/off states
};

// Every quantity of the metering page, in the order of the measurement block, the six energy
// counters, the two relays and the six inputs.
const std::vector<TQuantity>& MeteringQuantities();

// The unit shown after the value ("V", "kWh"; the analog outputs "mA" or "V" by the output
// type), empty for the power factor, the load type and the states.
QString QuantityUnit(const TQuantity& q, const TScaling& scaling);

// The value of a reading of the quantity's block, as the meter model scaled it; nothing when
// the reading does not reach the quantity, it is not a number, or it is scaled by ratios not
// known yet.
std::optional<double> QuantityValue(const TQuantity& q, const TMeterReading& reading);

// The value's text for a file: the page's number of decimals, always "." as the separator;
// "ON"/"OFF" for states, the character for the load type; empty when the reading does not
// reach it.
QString QuantityText(const TQuantity& q, const TMeterReading& reading);

// A numeric quantity's value as the metering page writes it: its decimals, the locale's
// separator and the unit ("231.6 V").
QString QuantityShownText(const TQuantity& q, double value, const TScaling& scaling);

// The register count of the full block (the raw columns of a recording).
int BlockWidth(TMeteringBlock block);
// The name of raw column i of a block: "0x1400", "coil 0", "input 5".
QString RawColumnName(TMeteringBlock block, int i);
