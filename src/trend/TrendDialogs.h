// The Trend page's own dialogs behind one seam: the program shows the real ones, tests answer
// them without a modal loop.
#pragma once

#include "trend/Recorder.h"

#include <QString>

class QWidget;

class ITrendDialogs {
public:
    virtual ~ITrendDialogs() = default;
    // "Record...": the file and how it is split; false when the operator cancelled.
    virtual bool RecordOptions(QWidget* parent, TRecordOptions& options) = 0;
    // "Save Image...": a PNG file name; empty when cancelled.
    virtual QString ImageFileName(QWidget* parent) = 0;
};

// The real dialogs.
class TQtTrendDialogs : public ITrendDialogs {
public:
    bool RecordOptions(QWidget* parent, TRecordOptions& options) override;
    QString ImageFileName(QWidget* parent) override;
};

// Where a recording goes unless the operator says otherwise: the per-user data folder.
QString DefaultRecordingPath();
