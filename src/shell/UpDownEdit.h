// Up-down arrows attached to an edit box: they step the number in the edit and wrap at the
// ends, while the edit still takes any text (the dialog decides what it accepts).
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

class TAddressUpDown : public QWidget {
public:
    TAddressUpDown(QLineEdit* associate, int minimum, int maximum, QWidget* parent);

    int Position() const { return FPosition; }
    void SetPosition(int value);
    // One step up (+1) or down (-1) from the number in the edit, or from the last position
    // when the edit holds no number; past an end it wraps to the other.
    void Step(int delta);

    QToolButton* UpButton() const { return FUp; }
    QToolButton* DownButton() const { return FDown; }

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
