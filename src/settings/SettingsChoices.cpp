#include "settings/SettingsChoices.h"

#include "meter/MeterSettings.h"

const QStringList& SettingsChoiceItems(std::string_view field) {
    static const QStringList None;
    const TSettingsField* f = FindSettingsField(field);
    return f && f->Items ? *f->Items : None;
}
