#include "meter/VersionRules.h"

// QString's operator< compares UTF-16 code units, which is the ordinal comparison the meter's
// versions need ("3.8" < "3.80", "" < everything).
bool ExtendedLayout(const QString& version) {
    return version >= QLatin1String("3.10") &&
           (version < QLatin1String("3.80") || version >= QLatin1String("4.00"));
}

bool RelayAlarmLayout(const QString& version) {
    return version >= QLatin1String("3.20");
}
