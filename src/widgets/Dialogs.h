// The modal dialogs of the application behind one seam: the program shows the real ones,
// tests answer them without a modal loop.
#pragma once

#include <QString>
#include <QStringList>

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
    // A message box whose buttons say what they do ("Open Report", "Open Folder", "Close"): the
    // index of the button chosen, the first the default. Escape and the window's close button
    // choose the last; -1 when the box ended without any.
    virtual int Choose(const QString& caption, const QString& text, TIcon icon,
                       const QStringList& buttons) = 0;
    // Opens a file or folder the way the desktop opens it; false when nothing could open it.
    virtual bool OpenLocation(const QString& path) = 0;
    // The input box of an energy preset: true and the edited text on OK, false and the value
    // unchanged otherwise.
    virtual bool InputValue(const QString& caption, const QString& prompt, const QFont* font,
                            QString& value) = 0;
    // File names for the settings file; empty when the operator cancelled.
    virtual QString OpenFileName(QWidget* parent) = 0;
    virtual QString SaveFileName(QWidget* parent) = 0;
    // A file name to save other documents under (a report, an export): the dialog opens on
    // the suggested path, offers the filter ("CSV file (*.csv)") and adds the suffix to a
    // name typed without one; empty when the operator cancelled.
    virtual QString SaveDocumentName(QWidget* parent, const QString& filter, const QString& suffix,
                                     const QString& suggested) = 0;
    // A CSV file to record into, the dialog opened on the suggested path; empty when cancelled.
    // A recording never replaces a file (it goes on under the next free name), so choosing an
    // existing one asks nothing.
    virtual QString RecordingFileName(QWidget* parent, const QString& suggested) = 0;
    // The operator's part of a commissioning report; false when cancelled.
    virtual bool ReportDetails(QWidget* parent, QString& site, QString& technician,
                               QString& notes) = 0;

    // The application's error box: caption "Error", error icon, the message, OK.
    void ShowError(const QString& message);
    // A "Confirm" box with Yes and No and no icon; true for Yes.
    bool Confirm(const QString& text);
    // SaveDocumentName for a document of a kind ("report", "journal", ...): suggests
    // SuggestedSavePath and remembers the folder of the name chosen.
    QString SaveDocument(QWidget* parent, const QString& kind, const QString& serialNumber,
                         const QString& filter, const QString& suffix);
};

class QDate;

// Where a document of a kind is offered to be saved: the folder last saved to for that kind,
// else the user's documents folder, and a name of the meter and the day,
// "KT580-<serial>-<kind>-<yyyy-MM-dd>.<suffix>" ("KT580-<kind>-<date>.<suffix>" without a
// serial number).
QString SuggestedSavePath(const QString& kind, const QString& serialNumber, const QString& suffix,
                          const QDate& day);
// Keeps the folder of path as the one to offer next for the kind, in the program's settings.
void RememberSaveFolder(const QString& kind, const QString& path);
