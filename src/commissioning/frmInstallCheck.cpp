#include "commissioning/frmInstallCheck.h"

#include "commissioning/CommissioningReport.h"
#include "commissioning/MeterMemory.h"
#include "settings/SettingsChoices.h"
#include "widgets/UiFont.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>

namespace {

constexpr int PageWidth = 760;
constexpr int PageHeight = 437;

// On the background of the table (which takes the page's palette: the page hears of a new
// palette before the table), so a dark palette gets lighter tints.
QColor VerdictColour(TVerdict v, const QWidget* page) {
    const QColor bg = page->palette().color(QPalette::Base);
    const TRgb c = VerdictColourOn(v, TRgb{bg.red(), bg.green(), bg.blue()});
    return QColor(c.R, c.G, c.B);
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
                item->setForeground(VerdictColour(r.Verdict, this));
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            GridChecks->setItem(row, col, item);
        }
    }
    GridChecks->resizeRowsToContents();
}

void TFormInstallCheck::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        Refresh();
}

QColor TFormInstallCheck::VerdictForeground(int row) const {
    const QTableWidgetItem* item = GridChecks->item(row, 1);
    return item ? item->foreground().color() : QColor();
}

QColor TFormInstallCheck::TableBackground() const {
    return GridChecks->palette().color(QPalette::Base);
}
