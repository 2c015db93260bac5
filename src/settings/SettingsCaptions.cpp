#include "settings/SettingsCaptions.h"

#include <cstring>

namespace {

// The fields whose label differs from what the page shows next to the control: the backlight's
// caption, and the relay alarm rows, which the page names by the relay and the column heading.
struct TCaption {
    const char* Name;
    const char* Caption;
};
constexpr TCaption PageCaptions[] = {
    {"BacklightTime", "Turn On the Backlight"}, {"AlarmDelay", "Alarm Delay (sec)"},
    {"RO1AlarmOperator", "RO1 Setting"},        {"RO1AlarmSetpoint", "RO1 Setpoint"},
    {"RO1AlarmDelay", "RO1 Delay (sec)"},       {"RO1AlarmOutput", "RO1 Output"},
    {"RO2AlarmOperator", "RO2 Setting"},        {"RO2AlarmSetpoint", "RO2 Setpoint"},
    {"RO2AlarmDelay", "RO2 Delay (sec)"},       {"RO2AlarmOutput", "RO2 Output"},
};

} // namespace

QString SettingCaption(const TSettingsField& field) {
    for (const TCaption& c : PageCaptions)
        if (std::strcmp(c.Name, field.Name) == 0)
            return QString::fromLatin1(c.Caption);
    return QString::fromLatin1(field.Label);
}
