#include "metering/MeteringCommands.h"

#include "meter/QueryBytes.h"
#include "meter/VersionRules.h"

namespace mcmd {

namespace {

constexpr std::uint16_t EnergyResetRegister = 0x110D;
// The value the meter takes as "reset the counters"; any other is refused.
constexpr std::uint16_t EnergyResetValue = 10;

} // namespace

std::string RelaySwitch(int relay, bool on) {
    return "00,05" + WordToQueryBytes(relay) + WordToQueryBytes(on ? 0xFF00 : 0x0000);
}

std::string EnergyPreset(int offset, std::uint32_t tenths) {
    return "00,10" + WordToQueryBytes(EnergyBase + offset) + ",00,02,04" +
           DWordToQueryBytes(tenths);
}

std::string EnergyReset(const QString& version) {
    if (ExtendedLayout(version))
        return "00,10" + WordToQueryBytes(EnergyResetRegister) + ",00,01,02" +
               WordToQueryBytes(EnergyResetValue);
    return "00,10" + WordToQueryBytes(EnergyBase) + ",00,04,08" + DWordToQueryBytes(0) +
           DWordToQueryBytes(0);
}

QString EnergyEntryText(const QString& labelText) {
    const qsizetype unit = labelText.indexOf(QLatin1String(" k"));
    return unit < 0 ? labelText : labelText.left(unit);
}

} // namespace mcmd
