#include "shell/UpDownEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

TAddressUpDown::TAddressUpDown(QLineEdit* associate, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), FAssociate(associate), FUp(new QToolButton(this)),
      FDown(new QToolButton(this)), FMin(minimum), FMax(maximum), FPosition(minimum) {
    for (QToolButton* b : {FUp, FDown}) {
        b->setArrowType(b == FUp ? Qt::UpArrow : Qt::DownArrow);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIconSize(QSize(6, 6));
    }
    connect(FUp, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(FDown, &QToolButton::clicked, this, [this] { Step(-1); });
    FAssociate->installEventFilter(this);
}

void TAddressUpDown::SetPosition(int value) {
    FPosition = value;
}

void TAddressUpDown::Step(int delta) {
    bool ok = false;
    const int typed = FAssociate->text().trimmed().toInt(&ok);
    int next = (ok ? typed : FPosition) + delta;
    if (next > FMax)
        next = FMin;
    else if (next < FMin)
        next = FMax;
    FPosition = next;
    FAssociate->setText(QString::number(next));
}

bool TAddressUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FAssociate && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TAddressUpDown::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    FUp->setGeometry(0, 0, width(), half);
    FDown->setGeometry(0, half, width(), height() - half);
}
