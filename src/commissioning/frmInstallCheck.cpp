#include "commissioning/frmInstallCheck.h"

#include "commissioning/CommissioningReport.h"
#include "commissioning/MeterMemory.h"
#include "settings/SettingsChoices.h"
#include "widgets/UiFont.h"

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>

namespace {

constexpr int PageWidth = 760;
constexpr int PageHeight = 437;

QColor VerdictColour(TVerdict v) {
    switch (v) {
    case TVerdict::Good:
        return QColor(0, 128, 0);
    case TVerdict::Warning:
        return QColor(176, 104, 0);
    case TVerdict::Fault:
        return QColor(192, 0, 0);
    case TVerdict::CannotJudge:
        break;
    }
    return QColor(96, 96, 96);
}

} // namespace

TFormInstallCheck::TFormInstallCheck(TMeterMemory& memory, QWidget* parent)
    : QWidget(parent), FMemory(memory) {
    setObjectName(QStringLiteral("FormInstallCheck"));
    setFont(UiFont());
    resize(PageWidth, PageHeight);
    LabelBasis = new QLabel(this);
    LabelBasis->setObjectName(QStringLiteral("LabelBasis"));
    LabelBasis->setTextFormat(Qt::PlainText);
    LabelBasis->setGeometry(8, 8, PageWidth - 16, 20);
    GridChecks = new QTableWidget(0, 4, this);
    GridChecks->setObjectName(QStringLiteral("GridChecks"));
    GridChecks->setGeometry(8, 32, PageWidth - 16, PageHeight - 40);
    GridChecks->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Verdict"),
                                           QStringLiteral("Values"),
                                           QStringLiteral("What to check")});
    GridChecks->verticalHeader()->hide();
    GridChecks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridChecks->setSelectionMode(QAbstractItemView::NoSelection);
    GridChecks->setWordWrap(true);
    GridChecks->setColumnWidth(0, 150);
    GridChecks->setColumnWidth(1, 80);
    GridChecks->setColumnWidth(2, 230);
    GridChecks->horizontalHeader()->setStretchLastSection(true);
    // The memory may outlive the page.
    memory.OnMeasurement.push_back([page = QPointer<TFormInstallCheck>(this)] {
        if (page && page->isVisible())
            page->Refresh();
    });
    Refresh();
}

void TFormInstallCheck::Refresh() {
    const TInstallInputs in = InstallInputs(FMemory);
    FResults = CheckInstallation(in);
    const QStringList& wirings = SettingsChoiceItems("VoltageWiring");
    LabelBasis->setText(
        in.VoltageWiring < 0
            ? QStringLiteral(
                  "Judged from the live values; the meter's settings have not been read yet.")
            : QStringLiteral(
                  "Judged from the live values against the settings: wiring %1, CT primary %2 A.")
                  .arg(in.VoltageWiring < wirings.size() ? wirings[in.VoltageWiring]
                                                         : QString::number(in.VoltageWiring))
                  .arg(FMemory.Settings().CT1));
    GridChecks->setRowCount(static_cast<int>(FResults.size()));
    for (int row = 0; row < static_cast<int>(FResults.size()); ++row) {
        const TCheckResult& r = FResults[static_cast<std::size_t>(row)];
        const QStringList cells = {r.Check, VerdictText(r.Verdict), r.Values, r.Advice};
        for (int col = 0; col < cells.size(); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 1) {
                item->setForeground(VerdictColour(r.Verdict));
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            GridChecks->setItem(row, col, item);
        }
    }
    GridChecks->resizeRowsToContents();
}
