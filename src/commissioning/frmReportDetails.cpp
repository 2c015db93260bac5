#include "commissioning/frmReportDetails.h"

#include "widgets/UiFont.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

TFormReportDetails::TFormReportDetails(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Commissioning Report"));
    setFont(UiFont());
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    EditSite = new QLineEdit(this);
    EditSite->setObjectName(QStringLiteral("EditSite"));
    EditTechnician = new QLineEdit(this);
    EditTechnician->setObjectName(QStringLiteral("EditTechnician"));
    MemoNotes = new QPlainTextEdit(this);
    MemoNotes->setObjectName(QStringLiteral("MemoNotes"));
    MemoNotes->setMinimumSize(360, 120);
    // Tab moves on to OK: a tab in the notes would make no sense in the report.
    MemoNotes->setTabChangesFocus(true);
    form->addRow(QStringLiteral("Site:"), EditSite);
    form->addRow(QStringLiteral("Technician:"), EditTechnician);
    form->addRow(QStringLiteral("Notes:"), MemoNotes);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TFormReportDetails::SetDetails(const QString& site, const QString& technician,
                                    const QString& notes) {
    EditSite->setText(site);
    EditTechnician->setText(technician);
    MemoNotes->setPlainText(notes);
}

QString TFormReportDetails::Site() const {
    return EditSite->text();
}

QString TFormReportDetails::Technician() const {
    return EditTechnician->text();
}

QString TFormReportDetails::Notes() const {
    return MemoNotes->toPlainText();
}
