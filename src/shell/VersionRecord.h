// The program's own version record, built into the binary, and the About box's version text.
#pragma once

#include <QString>

#include <functional>
#include <optional>

// One value of a version record by name ("FileVersion", "Comments"), or nothing when the
// record lacks it. An empty function stands for a program without any record.
using TVersionLookup = std::function<std::optional<QString>(const QString& name)>;

// The record of this program.
std::optional<QString> ProgramVersionValue(const QString& name);

// The version label: the design text, a blank and the file version without its last
// component, then the comment in brackets; each part only when the record has its value.
// Without a record the label is empty, not even the design text.
QString VersionLabelText(const QString& designText, const TVersionLookup& lookup);

// The program's version as every window, report and recording names it: the About box's
// version text without its design text ("2.2.0 (20160121)").
QString ProgramVersionText(const TVersionLookup& lookup = ProgramVersionValue);
