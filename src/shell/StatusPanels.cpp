#include "shell/StatusPanels.h"

#include <QEvent>
#include <QLabel>

#include <algorithm>

namespace {

// One line of the status bar's panels.
constexpr int StatusBarHeight = 19;
const QString AddressMark = QStringLiteral(" @ ");

} // namespace

TStatusPanels::TStatusPanels(QWidget* parent) {
    FBar = new QWidget(parent);
    FBar->setObjectName(QStringLiteral("StatusBar"));
    FBar->setFixedHeight(StatusBarHeight);
    for (std::size_t i = 0; i < FPanels.size(); ++i) {
        auto* panel = new QLabel(FBar);
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
    FNextStep = new QLabel(FBar);
    FNextStep->setObjectName(QStringLiteral("NextStep"));
    FNextStep->setTextFormat(Qt::PlainText);
    FNextStep->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FNextStep->setIndent(2);
    FNextStep->setAutoFillBackground(true);
    FNextStep->hide();
    FBar->installEventFilter(this);
}

bool TStatusPanels::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FBar && event->type() == QEvent::Resize)
        Resize();
    return QObject::eventFilter(watched, event);
}

void TStatusPanels::Resize() {
    const int width = FBar->width() / 4;
    // Beyond ten lines the rest is in the panel's tooltip; the pages keep most of the window.
    const int most =
        10 * FPanels[1]->fontMetrics().lineSpacing() + 2 * FPanels[1]->frameWidth() + 4;
    const int needed = FPanels[1]->heightForWidth(width);
    // Wrapped lines get some air against the frame; one line keeps the bar's usual height.
    const int height = needed > StatusBarHeight ? std::min(needed + 4, most) : StatusBarHeight;
    if (FBar->height() != height)
        FBar->setFixedHeight(height);
    for (std::size_t i = 0; i < FPanels.size(); ++i)
        FPanels[i]->setGeometry(static_cast<int>(i) * width, 0, width, height);
    FNextStep->setGeometry(width, 0, FBar->width() - width, height);
}

QLabel* TStatusPanels::Panel(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(FPanels.size()))
        return nullptr;
    return FPanels[static_cast<std::size_t>(panel)];
}

void TStatusPanels::SetText(int panel, const QString& text) {
    QLabel* label = Panel(panel);
    if (!label)
        return;
    label->setText(text);
    label->setToolTip(text);
    label->setAccessibleDescription(text);
    if (panel == 1)
        Resize();
}

QString TStatusPanels::Text(int panel) const {
    const QLabel* label = Panel(panel);
    return label ? label->text() : QString();
}

void TStatusPanels::SetPageName(const QString& page, int address) {
    SetText(0, page + AddressMark + QString::number(address));
}

void TStatusPanels::RefreshAddress(int address) {
    const QString text = Text(0);
    const qsizetype mark = text.indexOf(AddressMark);
    if (mark < 0)
        return;
    SetText(0, text.left(mark + AddressMark.size()) + QString::number(address));
}

void TStatusPanels::ShowNextStep(const QString& text) {
    FNextStep->setText(text);
    FNextStep->setToolTip(text);
    FNextStep->show();
}

void TStatusPanels::HideNextStep() {
    FNextStep->hide();
}
