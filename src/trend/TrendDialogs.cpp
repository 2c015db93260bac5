#include "trend/TrendDialogs.h"

#include "widgets/Dialogs.h"

#include <QButtonGroup>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>

QString DefaultRecordingPath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/Veltrana/Marbrook/recordings/kt580-") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".csv");
}

TFormRecord::TFormRecord(const TRecordOptions& options, IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), FDialogs(dialogs) {
    setWindowTitle(QStringLiteral("Record"));
    auto* grid = new QGridLayout(this);
    auto* fileCaption = new QLabel(QStringLiteral("File:"), this);
    EditFile = new QLineEdit(options.Path.isEmpty() ? DefaultRecordingPath() : options.Path, this);
    EditFile->setObjectName(QStringLiteral("EditRecordFile"));
    EditFile->setMinimumWidth(360);
    fileCaption->setBuddy(EditFile);
    ButtonBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    // One rule or the other: the recording starts its next file either at the start of each
    // day or once its file has reached the size.
    auto* splitCaption = new QLabel(QStringLiteral("Start a new file:"), this);
    RadioDaily = new QRadioButton(QStringLiteral("each day"), this);
    RadioSize = new QRadioButton(QStringLiteral("when the file reaches"), this);
    SpinMegabytes = new QSpinBox(this);
    SpinMegabytes->setAccessibleName(QStringLiteral("File size for a new file"));
    SpinMegabytes->setRange(1, 4096);
    SpinMegabytes->setSuffix(QStringLiteral(" MB"));
    SpinMegabytes->setValue(
        options.Split.MaxBytes > 0
            ? static_cast<int>(options.Split.MaxBytes / (std::int64_t{1024} * 1024))
            : 100);
    auto* group = new QButtonGroup(this);
    group->addButton(RadioDaily);
    group->addButton(RadioSize);
    (options.Split.Kind == TSplitRule::Size ? RadioSize : RadioDaily)->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    grid->addWidget(fileCaption, 0, 0);
    grid->addWidget(EditFile, 0, 1, 1, 2);
    grid->addWidget(ButtonBrowse, 0, 3);
    grid->addWidget(splitCaption, 1, 0);
    grid->addWidget(RadioDaily, 1, 1, 1, 3);
    grid->addWidget(RadioSize, 2, 1);
    grid->addWidget(SpinMegabytes, 2, 2);
    grid->addWidget(buttons, 3, 0, 1, 4);
    // The size counts only with its rule.
    SpinMegabytes->setEnabled(RadioSize->isChecked());
    connect(RadioSize, &QRadioButton::toggled, SpinMegabytes, &QWidget::setEnabled);
    connect(ButtonBrowse, &QPushButton::clicked, this, [this] { Browse(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TFormRecord::Browse() {
    // Opens on the file in the field; a name typed without a suffix becomes a .csv file.
    const QString name = FDialogs.RecordingFileName(this, EditFile->text().trimmed());
    if (!name.isEmpty())
        EditFile->setText(name);
}

TRecordOptions TFormRecord::Options() const {
    TRecordOptions options;
    options.Path = EditFile->text().trimmed();
    options.Split.Kind = RadioSize->isChecked() ? TSplitRule::Size : TSplitRule::Daily;
    options.Split.MaxBytes = static_cast<std::int64_t>(SpinMegabytes->value()) * 1024 * 1024;
    return options;
}

bool TQtTrendDialogs::RecordOptions(QWidget* parent, TRecordOptions& options) {
    TFormRecord dialog(options, FDialogs, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Options().Path.isEmpty())
        return false;
    const TRecordOptions chosen = dialog.Options();
    options.Path = chosen.Path;
    options.Split = chosen.Split;
    QDir().mkpath(QFileInfo(options.Path).absolutePath());
    return true;
}
