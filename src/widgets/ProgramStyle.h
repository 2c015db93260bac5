// The program's one rule over the platform's style: buttons carry text only. Some desktop
// themes put icons on a dialog button box's standard buttons (OK, Cancel, Yes, No) and on
// message boxes' buttons, while the dialogs' own push buttons have none; the program shows
// none anywhere, so every dialog looks the same.
#pragma once

#include <QProxyStyle>

class TProgramStyle : public QProxyStyle {
public:
    // base: the style to follow in everything else (owned from now on); null for the default.
    explicit TProgramStyle(QStyle* base = nullptr) : QProxyStyle(base) {}

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

// Puts TProgramStyle over the application's current style; once, at start-up, after the
// QApplication exists and before the first window.
void InstallProgramStyle();
