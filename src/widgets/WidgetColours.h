// The value colours for a widget's own background, in the widget toolkit's terms.
#pragma once

#include "meter/ValueColours.h"

#include <QColor>
#include <QPalette>
#include <QWidget>

inline QColor ToQColor(const TRgb& c) {
    return QColor(c.R, c.G, c.B);
}

inline TValueColours ValueColoursOf(const QWidget* widget) {
    const QColor bg = widget->palette().color(QPalette::Window);
    return ValueColoursFor(TRgb{bg.red(), bg.green(), bg.blue()});
}

// Sets the text colour for the enabled states only, so a disabled label still greys out.
inline void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, colour);
    p.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    w->setPalette(p);
}
