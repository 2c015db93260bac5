#include "widgets/UpDown.h"

#include "meter/NumberText.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

QToolButton* ArrowButton(QWidget* parent, Qt::ArrowType arrow) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // The edit keeps the focus: the arrows act on it, they are not a stop of their own.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

std::optional<int> NumberOf(const QString& text) {
    const auto value =
        DecimalInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

} // namespace

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), FAssociate(associate), FUp(ArrowButton(this, Qt::UpArrow)),
      FDown(ArrowButton(this, Qt::DownArrow)), FMin(min), FMax(std::max(min, max)), FPosition(min) {
    if (const auto initial = NumberOf(associate->text()))
        FPosition = std::clamp(*initial, FMin, FMax);
    connect(FUp, &QToolButton::clicked, this, &TUpDown::StepUp);
    connect(FDown, &QToolButton::clicked, this, &TUpDown::StepDown);
    associate->installEventFilter(this);
}

void TUpDown::Step(int delta) {
    const std::optional<int> typed = NumberOf(FAssociate->text());
    int position = typed.value_or(FPosition);
    if (position < FMin) {
        position = FMin;
    } else if (position > FMax) {
        position = FMax;
    } else {
        // Wide enough that a step from either end cannot overflow.
        const long long next = static_cast<long long>(position) + delta;
        if (next > FMax)
            position = FMin;
        else if (next < FMin)
            position = FMax;
        else
            position = static_cast<int>(next);
    }
    FPosition = position;
    FAssociate->setText(QString::number(position));
    emit Stepped();
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
