// The name of a settings field as the General Settings page shows it ("RO1 Setpoint", "Turn On
// the Backlight"), for the boxes that list settings to an operator; file keys stay in files.
#pragma once

#include "meter/MeterSettings.h"

#include <QString>

QString SettingCaption(const TSettingsField& field);
