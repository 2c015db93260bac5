#include "trend/TrendDialogs.h"

#include <QButtonGroup>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
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

bool TQtTrendDialogs::RecordOptions(QWidget* parent, TRecordOptions& options) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Record"));
    auto* grid = new QGridLayout(&dialog);
    auto* fileCaption = new QLabel(QStringLiteral("File:"), &dialog);
    auto* path =
        new QLineEdit(options.Path.isEmpty() ? DefaultRecordingPath() : options.Path, &dialog);
    path->setObjectName(QStringLiteral("EditRecordFile"));
    path->setMinimumWidth(360);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
    auto* daily = new QRadioButton(QStringLiteral("A new file each day"), &dialog);
    auto* bySize = new QRadioButton(QStringLiteral("A new file after"), &dialog);
    auto* megabytes = new QSpinBox(&dialog);
    megabytes->setRange(1, 4096);
    megabytes->setSuffix(QStringLiteral(" MB"));
    megabytes->setValue(options.Split.MaxBytes > 0
                            ? static_cast<int>(options.Split.MaxBytes / (std::int64_t{1024} * 1024))
                            : 100);
    auto* group = new QButtonGroup(&dialog);
    group->addButton(daily);
    group->addButton(bySize);
    (options.Split.Kind == TSplitRule::Size ? bySize : daily)->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    grid->addWidget(fileCaption, 0, 0);
    grid->addWidget(path, 0, 1, 1, 2);
    grid->addWidget(browse, 0, 3);
    grid->addWidget(daily, 1, 1, 1, 3);
    grid->addWidget(bySize, 2, 1);
    grid->addWidget(megabytes, 2, 2);
    grid->addWidget(buttons, 3, 0, 1, 4);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, path] {
        // No overwrite question: a recording never overwrites, it takes the next free name.
        const QString name =
            QFileDialog::getSaveFileName(&dialog, QStringLiteral("Record"), path->text(),
                                         QStringLiteral("CSV file (*.csv);;Any file (*.*)"),
                                         nullptr, QFileDialog::DontConfirmOverwrite);
        if (!name.isEmpty())
            path->setText(name);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || path->text().trimmed().isEmpty())
        return false;
    options.Path = path->text().trimmed();
    options.Split.Kind = bySize->isChecked() ? TSplitRule::Size : TSplitRule::Daily;
    options.Split.MaxBytes = static_cast<std::int64_t>(megabytes->value()) * 1024 * 1024;
    QDir().mkpath(QFileInfo(options.Path).absolutePath());
    return true;
}

QString TQtTrendDialogs::ImageFileName(QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Image"), QString(),
                                        QStringLiteral("PNG image (*.png)"));
}
