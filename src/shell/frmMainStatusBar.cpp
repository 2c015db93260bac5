// The main window's status bar: four panels, the verdict panel that wraps, and the next-step
// line across them while offline.
#include "shell/frmMain.h"

#include <QLabel>

#include <algorithm>

namespace {

// One line of the status bar's panels.
constexpr int StatusBarHeight = 19;

} // namespace

void TFormKT580::CreateStatusBar() {
    StatusBar->setFixedHeight(StatusBarHeight);
    for (std::size_t i = 0; i < FPanels.size(); ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
        panel->setGeometry(static_cast<int>(i) * 50, 0, 50, 19);
        FPanels[i] = panel;
    }
    // Panel 1 carries the line's verdict, a sentence or two the operator acts on: it wraps and
    // the bar grows to show all of it.
    FPanels[1]->setWordWrap(true);
    LabelNextStep = new QLabel(StatusBar);
    LabelNextStep->setObjectName(QStringLiteral("NextStep"));
    LabelNextStep->setTextFormat(Qt::PlainText);
    LabelNextStep->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LabelNextStep->setIndent(2);
    LabelNextStep->setAutoFillBackground(true);
    LabelNextStep->hide();
    StatusBar->installEventFilter(this);
}

void TFormKT580::StatusBarResize() {
    const int width = StatusBar->width() / 4;
    // Beyond ten lines the rest is in the panel's tooltip; the pages keep most of the window.
    const int most =
        10 * FPanels[1]->fontMetrics().lineSpacing() + 2 * FPanels[1]->frameWidth() + 4;
    const int needed = FPanels[1]->heightForWidth(width);
    // Wrapped lines get some air against the frame; one line keeps the bar's usual height.
    const int height = needed > StatusBarHeight ? std::min(needed + 4, most) : StatusBarHeight;
    if (StatusBar->height() != height)
        StatusBar->setFixedHeight(height);
    for (std::size_t i = 0; i < FPanels.size(); ++i)
        FPanels[i]->setGeometry(static_cast<int>(i) * width, 0, width, height);
    LabelNextStep->setGeometry(width, 0, StatusBar->width() - width, height);
}

void TFormKT580::SetStatusText(int panel, const QString& text) {
    if (panel < 0 || panel >= static_cast<int>(FPanels.size()))
        return;
    QLabel* label = FPanels[static_cast<std::size_t>(panel)];
    label->setText(text);
    label->setToolTip(text);
    label->setAccessibleDescription(text);
    if (panel == 1)
        StatusBarResize();
}

QString TFormKT580::StatusText(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(FPanels.size()))
        return QString();
    return FPanels[static_cast<std::size_t>(panel)]->text();
}
