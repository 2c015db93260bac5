// The commissioning report's progress while it reads the meter and polls measurements: what it
// is doing, how far it has come and Cancel. Shown with show(), never with a modal loop, so the
// link's events keep coming; Cancel, Escape and the window's close button all reject it.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

class TFormReportProgress : public QDialog {
public:
    explicit TFormReportProgress(QWidget* parent = nullptr);

    // `done` of the `total` queries that end before the report's last read have ended.
    void ShowReading(int done, int total);
    // The report polls measurements itself: `elapsedMs` of `totalMs`.
    void ShowCollecting(std::int64_t elapsedMs, std::int64_t totalMs);

    QString Text() const;
    int Value() const;
    int Maximum() const;

private:
    QLabel* LabelStatus;
    QProgressBar* BarProgress;
    QPushButton* ButtonCancel;
};
