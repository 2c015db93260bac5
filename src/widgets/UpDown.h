// Up-down arrows beside an edit box. They step the edit's number by one inside a range and
// wrap around at its ends; the edit itself still takes any text, since the program must be
// able to hold (and refuse later) texts such as "0", "248" or "abc".
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class TUpDown : public QWidget {
    Q_OBJECT

public:
    // Takes the edit's current number (or min) as its position and listens for the Up and
    // Down keys in the edit.
    TUpDown(QLineEdit* associate, int min, int max, QWidget* parent);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    // The number the arrows last wrote or read.
    int Position() const { return FPosition; }

    QLineEdit* Associate() const { return FAssociate; }

    // One step from the edit's number: a number outside the range lands on its nearer end, a
    // text that is no number steps from the last position; past an end the step wraps to the
    // other end. The edit then shows the new position. A number is read by the rule the
    // settings write and the connection dialog use (digits with an optional minus, nothing
    // else: " 5" and "+5" are no numbers).
    void Step(int delta);
    void StepUp() { Step(+1); }
    void StepDown() { Step(-1); }

signals:
    // After every step, which the operator made.
    void Stepped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineEdit* FAssociate;
    QToolButton* FUp;
    QToolButton* FDown;
    int FMin;
    int FMax;
    int FPosition;
};
