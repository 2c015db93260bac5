// The real dialogs of the program: Qt message boxes, the metering page's input box and the
// settings-file dialogs.
#pragma once

#include "widgets/Dialogs.h"

class TQtDialogs : public IDialogs {
public:
    TResult MessageBox(const QString& caption, const QString& text, TIcon icon,
                       TButtons buttons) override;
    int Choose(const QString& caption, const QString& text, TIcon icon,
               const QStringList& buttons) override;
    bool OpenLocation(const QString& path) override;
    bool InputValue(const QString& caption, const QString& prompt, const QFont* font,
                    QString& value) override;
    QString OpenFileName(QWidget* parent) override;
    QString SaveFileName(QWidget* parent) override;
    QString SaveDocumentName(QWidget* parent, const QString& filter, const QString& suffix,
                             const QString& suggested) override;
    QString RecordingFileName(QWidget* parent, const QString& suggested) override;
    bool ReportDetails(QWidget* parent, QString& site, QString& technician,
                       QString& notes) override;
};
