#include "widgets/CommandLabel.h"

#include <QMouseEvent>

TCommandLabel::TCommandLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
}

void TCommandLabel::mousePressEvent(QMouseEvent* event) {
    FPressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TCommandLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A release outside the label takes the click back, as on a button.
    const bool click = FPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint()) && isEnabled();
    FPressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit Clicked();
}
