// The modal input box of an energy preset. Its sizes follow its font, as a dialog's should:
// every measure is a multiple of the font's average letter width and height.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The dialog units of a font: the average width of the letters A-Z a-z and their height.
struct TDialogUnits {
    int X = 0;
    int Y = 0;
    int Horz(int a) const { return (a * X + 2) / 4; } // a·X/4, halves up
    int Vert(int a) const { return (a * Y + 4) / 8; } // a·Y/8, halves up
};
TDialogUnits DialogUnits(const QFont& font);

// The input box itself, built and laid out but not shown.
class TInputValueDialog : public QDialog {
    Q_OBJECT

public:
    // font: null for the application's font.
    TInputValueDialog(const QString& caption, const QString& prompt, const QFont* font,
                      const QString& value);

    QLabel* Prompt() const { return FPrompt; }
    QLineEdit* Edit() const { return FEdit; }
    QPushButton* OkButton() const { return FOk; }
    QPushButton* CancelButton() const { return FCancel; }

    static constexpr int MaxLength = 255;

private:
    QLabel* FPrompt = nullptr;
    QLineEdit* FEdit = nullptr;
    QPushButton* FOk = nullptr;
    QPushButton* FCancel = nullptr;
};

// Shows the box modally: true and the edited text in `value` on OK; false and `value` as it
// was on Cancel, Esc or when the box is closed otherwise.
bool InputValueQuery(const QString& caption, const QString& prompt, const QFont* font,
                     QString& value);
