#include "shell/QtDialogs.h"

#include "commissioning/frmReportDetails.h"
#include "metering/InputValueQuery.h"
#include "widgets/UiFont.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace {

QMessageBox::Icon ToQt(IDialogs::TIcon icon) {
    switch (icon) {
    case IDialogs::Information:
        return QMessageBox::Information;
    case IDialogs::Warning:
        return QMessageBox::Warning;
    case IDialogs::Critical:
        return QMessageBox::Critical;
    case IDialogs::Question:
        return QMessageBox::Question;
    case IDialogs::NoIcon:
        break;
    }
    return QMessageBox::NoIcon;
}

const QString FileFilter = QStringLiteral("Settings file (*.pmt);;Any file (*.*)");

QString AskFileName(QWidget* parent, QFileDialog::AcceptMode mode,
                    const QString& filter = FileFilter,
                    const QString& suffix = QStringLiteral("pmt"),
                    const QString& suggested = QString(), bool askBeforeReplacing = true) {
    QFileDialog dialog(parent ? parent : QApplication::activeWindow());
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    if (suggested.isEmpty()) {
        dialog.setDirectory(QStringLiteral("."));
    } else {
        dialog.setDirectory(QFileInfo(suggested).absolutePath());
        dialog.selectFile(QFileInfo(suggested).fileName());
    }
    dialog.setAcceptMode(mode);
    // An existing file only when opening; saving over one asks first.
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !askBeforeReplacing);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

IDialogs::TResult TQtDialogs::MessageBox(const QString& caption, const QString& text, TIcon icon,
                                         TButtons buttons) {
    QMessageBox box(ToQt(icon), caption, text,
                    buttons == YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    // Meter texts and file names reach these boxes; nothing in them is markup.
    box.setTextFormat(Qt::PlainText);
    box.setFont(UiFont());
    switch (box.exec()) {
    case QMessageBox::Yes:
        return ResultYes;
    case QMessageBox::No:
        return ResultNo;
    case QMessageBox::Ok:
        return ResultOk;
    default:
        // Closed with Escape or the window's close button.
        return buttons == YesNo ? ResultNo : ResultCancel;
    }
}

int TQtDialogs::Choose(const QString& caption, const QString& text, TIcon icon,
                       const QStringList& buttons) {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setFont(UiFont());
    QList<QAbstractButton*> added;
    for (qsizetype k = 0; k < buttons.size(); ++k) {
        // The last button is what closing the box means; the others keep the caller's order.
        const bool last = k + 1 == buttons.size();
        QPushButton* button =
            box.addButton(buttons[k], last ? QMessageBox::RejectRole : QMessageBox::ActionRole);
        button->setAccessibleName(buttons[k]);
        added.push_back(button);
    }
    if (!added.isEmpty()) {
        box.setDefaultButton(static_cast<QPushButton*>(added.constFirst()));
        box.setEscapeButton(added.constLast());
    }
    box.exec();
    return static_cast<int>(added.indexOf(box.clickedButton()));
}

bool TQtDialogs::OpenLocation(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool TQtDialogs::InputValue(const QString& caption, const QString& prompt, const QFont* font,
                            QString& value) {
    return InputValueQuery(caption, prompt, font, value);
}

QString TQtDialogs::OpenFileName(QWidget* parent) {
    return AskFileName(parent, QFileDialog::AcceptOpen);
}

QString TQtDialogs::SaveFileName(QWidget* parent) {
    return AskFileName(parent, QFileDialog::AcceptSave);
}

QString TQtDialogs::SaveDocumentName(QWidget* parent, const QString& filter, const QString& suffix,
                                     const QString& suggested) {
    return AskFileName(parent, QFileDialog::AcceptSave, filter, suffix, suggested);
}

QString TQtDialogs::RecordingFileName(QWidget* parent, const QString& suggested) {
    return AskFileName(parent, QFileDialog::AcceptSave,
                       QStringLiteral("CSV file (*.csv);;Any file (*.*)"), QStringLiteral("csv"),
                       suggested, false);
}

bool TQtDialogs::ReportDetails(QWidget* parent, QString& site, QString& technician,
                               QString& notes) {
    TFormReportDetails dialog(parent ? parent : QApplication::activeWindow());
    dialog.SetDetails(site, technician, notes);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    site = dialog.Site();
    technician = dialog.Technician();
    notes = dialog.Notes();
    return true;
}
