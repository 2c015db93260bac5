// The operator's part of a commissioning report: site, technician and notes.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;

class TFormReportDetails : public QDialog {
public:
    explicit TFormReportDetails(QWidget* parent = nullptr);

    void SetDetails(const QString& site, const QString& technician, const QString& notes);
    QString Site() const;
    QString Technician() const;
    QString Notes() const;

private:
    QLineEdit* EditSite;
    QLineEdit* EditTechnician;
    QPlainTextEdit* MemoNotes;
};
