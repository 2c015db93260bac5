// The modal dialogs of the application behind one seam: the program shows the real ones,
// tests answer them without a modal loop.
#pragma once

#include <QString>

class QFont;
class QWidget;

class IDialogs {
public:
    enum TIcon { NoIcon, Information, Warning, Critical, Question };
    enum TButtons { Ok, YesNo };
    enum TResult { ResultOk, ResultYes, ResultNo, ResultCancel };

    virtual ~IDialogs() = default;

    // A message box with caption, text (plain text, never markup), icon and buttons.
    virtual TResult MessageBox(const QString& caption, const QString& text, TIcon icon,
                               TButtons buttons) = 0;
    // The input box of an energy preset: true and the edited text on OK, false and the value
    // unchanged otherwise.
    virtual bool InputValue(const QString& caption, const QString& prompt, const QFont* font,
                            QString& value) = 0;
    // File names for the settings file; empty when the operator cancelled.
    virtual QString OpenFileName(QWidget* parent) = 0;
    virtual QString SaveFileName(QWidget* parent) = 0;
    // A file name to save something else under, with its own name filter ("Text file (*.txt);;
    // CSV file (*.csv)") and default suffix; empty when the operator cancelled. Dialogs that
    // know only settings files answer with their save dialog.
    virtual QString SaveFileNameAs(QWidget* parent, const QString& /*filter*/,
                                   const QString& /*suffix*/) {
        return SaveFileName(parent);
    }

    // The application's error box: caption "Error", error icon, the message, OK.
    void ShowError(const QString& message);
    // A "Confirm" box with Yes and No and no icon; true for Yes.
    bool Confirm(const QString& text);
};
