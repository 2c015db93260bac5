// The Trend page's own dialogs behind one seam: the program shows the real ones, tests answer
// them without a modal loop.
#pragma once

#include "trend/Recorder.h"

#include <QDialog>
#include <QString>

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

// The real dialogs.
class TQtTrendDialogs : public ITrendDialogs {
public:
    bool RecordOptions(QWidget* parent, TRecordOptions& options) override;
};

// The Record dialog: the file a recording goes to and when it starts a new one.
class TFormRecord : public QDialog {
public:
    TFormRecord(const TRecordOptions& options, QWidget* parent = nullptr);
    // The values chosen; the path trimmed.
    TRecordOptions Options() const;

    QLineEdit* EditFile;
    QPushButton* ButtonBrowse;
    QRadioButton* RadioDaily;
    QRadioButton* RadioSize;
    QSpinBox* SpinMegabytes;

private:
    void Browse();
};

// Where a recording goes unless the operator says otherwise: the per-user data folder.
QString DefaultRecordingPath();
