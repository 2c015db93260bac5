#include "commissioning/frmInstallCheck.h"

#include "commissioning/CommissioningReport.h"
#include "commissioning/MeterMemory.h"
#include "settings/SettingsChoices.h"
#include "widgets/UiFont.h"
#include "widgets/WidgetColours.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int PageWidth = 760;
constexpr int PageHeight = 437;

// Readable on the table's background (which takes the page's palette: the page hears of a new
// palette before the table) and on the window's behind the overall verdict, so a verdict reads
// the same in both places and a dark palette gets lighter tints.
QColor VerdictColour(TVerdict v, const QWidget* page) {
    const auto rgb = [page](QPalette::ColorRole role) {
        const QColor c = page->palette().color(role);
        return TRgb{c.red(), c.green(), c.blue()};
    };
    return ToQColor(ReadableOn(VerdictColourOn(v, rgb(QPalette::Base)), rgb(QPalette::Window)));
}

} // namespace

TFormInstallCheck::TFormInstallCheck(TMeterMemory& memory, QWidget* parent)
    : QWidget(parent), FMemory(memory) {
    setObjectName(QStringLiteral("FormInstallCheck"));
    setFont(UiFont());
    // The page grows with the window (the main window sizes a page with a layout to its
    // viewport), never below the room its columns need.
    setMinimumSize(PageWidth, PageHeight);
    resize(PageWidth, PageHeight);
    LabelVerdict = new QLabel(this);
    LabelVerdict->setObjectName(QStringLiteral("LabelVerdict"));
    LabelVerdict->setTextFormat(Qt::PlainText);
    LabelVerdict->setWordWrap(true);
    QFont bold = font();
    bold.setBold(true);
    LabelVerdict->setFont(bold);
    LabelBasis = new QLabel(this);
    LabelBasis->setObjectName(QStringLiteral("LabelBasis"));
    LabelBasis->setTextFormat(Qt::PlainText);
    LabelBasis->setWordWrap(true);
    GridChecks = new QTableWidget(0, 4, this);
    GridChecks->setObjectName(QStringLiteral("GridChecks"));
    GridChecks->setAccessibleName(QStringLiteral("Installation checks"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(LabelVerdict);
    layout->addWidget(LabelBasis);
    layout->addWidget(GridChecks, 1);
    SetUpGrid();
    // The memory may outlive the page.
    memory.OnMeasurement.push_back([page = QPointer<TFormInstallCheck>(this)] {
        if (page && page->isVisible())
            page->Refresh();
    });
    Refresh();
}

void TFormInstallCheck::SetUpGrid() {
    GridChecks->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Verdict"),
                                           QStringLiteral("Values"),
                                           QStringLiteral("What to check")});
    GridChecks->verticalHeader()->hide();
    GridChecks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridChecks->setSelectionMode(QAbstractItemView::NoSelection);
    GridChecks->setWordWrap(true);
    // The names and verdicts as wide as they are; the values and the advice share the rest of
    // the width and wrap in it, so nothing is cut off and nothing needs a horizontal scroll.
    QHeaderView* header = GridChecks->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    header->setSectionResizeMode(3, QHeaderView::Stretch);
    GridChecks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Wrapped text takes more or fewer lines as its column changes width: the rows follow.
    GridChecks->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
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
    const TChecksSummary overall = ChecksSummary(FResults);
    LabelVerdict->setText(overall.Text);
    SetTextColour(LabelVerdict, VerdictColour(overall.Worst, this));
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

QString TFormInstallCheck::VerdictLine() const {
    return LabelVerdict->text();
}

QColor TFormInstallCheck::VerdictLineColour() const {
    return LabelVerdict->palette().color(QPalette::WindowText);
}

QColor TFormInstallCheck::TableBackground() const {
    return GridChecks->palette().color(QPalette::Base);
}
