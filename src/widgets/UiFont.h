// The one font of the pages and dialogs: a sans family at a pixel size, so the layout's pixel
// geometry holds on every desktop. Liberation Sans has the metrics the layout was drawn for.
#pragma once

#include <QFont>
#include <QString>

inline QFont UiFont(int pixelSize = 11) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}
