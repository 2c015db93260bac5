#include "widgets/ProgramStyle.h"

#include <QApplication>

int TProgramStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == QStyle::SH_DialogButtonBox_ButtonsHaveIcons)
        return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void InstallProgramStyle() {
    // The current style becomes the base: the platform's look stays, with the one rule over it.
    QApplication::setStyle(new TProgramStyle(QApplication::style()));
}
