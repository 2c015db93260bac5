// Lets QCOMPARE show the fields of two differing settings records.
#pragma once

#include "settings/MeterSettings.h"

#include <QTest>

inline char* toString(const TMeterSettings& s) {
    QByteArray out;
    for (const TSettingsField& field : MeterSettingsFields()) {
        out += field.Name;
        out += '=';
        out += field.Text ? "\"" + (s.*field.Text).toUtf8() + "\""
                          : QByteArray::number(s.*field.Choice);
        out += ' ';
    }
    return qstrdup(out.constData());
}
