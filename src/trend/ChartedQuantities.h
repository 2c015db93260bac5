// What the Trend page charts of the metering quantities: the numeric ones, each on the value
// axis of its unit. Shared by the page's units (frmTrend*.cpp).
#pragma once

#include "trend/MeteringQuantities.h"

inline bool Charted(const TQuantity& q) {
    return q.Numeric;
}

inline QString UnitOf(int quantity, const TScaling& scaling) {
    return QuantityUnit(MeteringQuantities()[static_cast<std::size_t>(quantity)], scaling);
}
