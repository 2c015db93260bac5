#include "commissioning/frmReportProgress.h"

#include "widgets/UiFont.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

TFormReportProgress::TFormReportProgress(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormReportProgress"));
    setWindowTitle(QStringLiteral("Commissioning Report"));
    setAccessibleName(QStringLiteral("Commissioning report progress"));
    setFont(UiFont());
    auto* layout = new QVBoxLayout(this);
    LabelStatus = new QLabel(QStringLiteral("Reading the meter..."), this);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    LabelStatus->setAccessibleName(QStringLiteral("Report status"));
    // Wide enough for the longest status, so the window does not jump while it counts.
    LabelStatus->setMinimumWidth(LabelStatus->fontMetrics().horizontalAdvance(
                                     QStringLiteral("Collecting measurements: 000 of 000 s")) +
                                 LabelStatus->fontMetrics().averageCharWidth() * 4);
    layout->addWidget(LabelStatus);
    BarProgress = new QProgressBar(this);
    BarProgress->setObjectName(QStringLiteral("BarProgress"));
    BarProgress->setAccessibleName(QStringLiteral("Report progress"));
    BarProgress->setRange(0, 1);
    BarProgress->setValue(0);
    layout->addWidget(BarProgress);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    ButtonCancel = buttons->button(QDialogButtonBox::Cancel);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setAccessibleName(QStringLiteral("Cancel the report"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFormReportProgress::ShowReading(int done, int total) {
    LabelStatus->setText(QStringLiteral("Reading the meter: %1 of %2 queries done...")
                             .arg(std::min(done, total))
                             .arg(total));
    BarProgress->setRange(0, std::max(total, 1));
    BarProgress->setValue(std::clamp(done, 0, std::max(total, 1)));
}

void TFormReportProgress::ShowCollecting(std::int64_t elapsedMs, std::int64_t totalMs) {
    const std::int64_t total = std::max<std::int64_t>(totalMs, 1);
    const std::int64_t elapsed = std::clamp<std::int64_t>(elapsedMs, 0, total);
    // Whole seconds of the total rounded up: a 10 s collection never reads "9 of 9 s".
    LabelStatus->setText(QStringLiteral("Collecting measurements: %1 of %2 s...")
                             .arg(elapsed / 1000)
                             .arg((total + 999) / 1000));
    BarProgress->setRange(0, static_cast<int>(std::min<std::int64_t>(total, 1 << 30)));
    BarProgress->setValue(static_cast<int>(std::min<std::int64_t>(elapsed, 1 << 30)));
}

QString TFormReportProgress::Text() const {
    return LabelStatus->text();
}

int TFormReportProgress::Value() const {
    return BarProgress->value();
}

int TFormReportProgress::Maximum() const {
    return BarProgress->maximum();
}
