// The entries of the settings record's choice fields, as the General Settings page lists them,
// so that a choice can be named outside the page (reports, the write journal, a list of
// changes).
#pragma once

#include <QStringList>

#include <string_view>

// The list entries of a choice field by its field name (Part of the settings record); empty for
// a text field or an unknown name. `Baudrate` lists its rates although it is a text field.
const QStringList& SettingsChoiceItems(std::string_view field);
