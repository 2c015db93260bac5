#include "widgets/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace {

QToolButton* ArrowButton(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // The edit keeps the focus: the arrows act on it, they are not a stop of their own.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), FAssociate(associate), FUp(ArrowButton(this, Qt::UpArrow)),
      FDown(ArrowButton(this, Qt::DownArrow)), FMin(min), FMax(std::max(min, max)), FPosition(min) {
    bool ok = false;
    const int initial = associate->text().toInt(&ok);
    if (ok)
        FPosition = std::clamp(initial, FMin, FMax);
    connect(FUp, &QToolButton::clicked, this, &TUpDown::StepUp);
    connect(FDown, &QToolButton::clicked, this, &TUpDown::StepDown);
    associate->installEventFilter(this);
}

void TUpDown::Step(int delta) {
    bool ok = false;
    const int typed = FAssociate->text().toInt(&ok);
    int position = ok ? std::clamp(typed, FMin, FMax) : FPosition;
    // Wide enough that a step from either end cannot overflow.
    const long long next = static_cast<long long>(position) + delta;
    if (next > FMax)
        position = FMin;
    else if (next < FMin)
        position = FMax;
    else
        position = static_cast<int>(next);
    FPosition = position;
    FAssociate->setText(QString::number(position));
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FAssociate && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent* /*event*/) {
    const int upper = height() / 2;
    FUp->setGeometry(0, 0, width(), upper);
    FDown->setGeometry(0, upper, width(), height() - upper);
}
