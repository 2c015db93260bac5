// The Trend page's own dialogs behind one seam: the program shows the real ones, tests answer
// them without a modal loop.
#pragma once

#include "trend/Recorder.h"

#include <QDialog>
#include <QString>

class IDialogs;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

class ITrendDialogs {
public:
    virtual ~ITrendDialogs() = default;
    // "Record...": the file and how it is split; false when the operator cancelled.
    virtual bool RecordOptions(QWidget* parent, TRecordOptions& options) = 0;
};

// The real dialogs; the file dialog behind "Browse..." is the program's, through its seam.
class TQtTrendDialogs : public ITrendDialogs {
public:
    explicit TQtTrendDialogs(IDialogs& dialogs) : FDialogs(dialogs) {}
    bool RecordOptions(QWidget* parent, TRecordOptions& options) override;

private:
    IDialogs& FDialogs;
};

// The Record dialog: the file a recording goes to and when it starts a new one. "Browse..."
// asks for the file through dialogs.
class TFormRecord : public QDialog {
public:
    TFormRecord(const TRecordOptions& options, IDialogs& dialogs, QWidget* parent = nullptr);
    // The values chosen; the path trimmed.
    TRecordOptions Options() const;

    QLineEdit* EditFile;
    QPushButton* ButtonBrowse;
    QRadioButton* RadioDaily;
    QRadioButton* RadioSize;
    QSpinBox* SpinMegabytes;

private:
    void Browse();

    IDialogs& FDialogs;
};

// Where a recording goes unless the operator says otherwise: the per-user data folder.
QString DefaultRecordingPath();
