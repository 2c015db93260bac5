#include "commissioning/frmJournal.h"

#include "commissioning/JournalFile.h"
#include "commissioning/ReportDocument.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString AllMeters = QStringLiteral("All meters");
const QString UnknownMeter = QStringLiteral("(serial number not known)");

QString MeterOf(const TJournalEntry& e) {
    return e.SerialNumber && !e.SerialNumber->isEmpty() ? *e.SerialNumber : UnknownMeter;
}

} // namespace

TFormJournal::TFormJournal(TJournalFile& file, IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), FFile(file), FDialogs(dialogs) {
    setWindowTitle(QStringLiteral("Write Journal"));
    setFont(UiFont());
    resize(900, 480);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Meter:"), this);
    label->setTextFormat(Qt::PlainText);
    top->addWidget(label);
    ComboMeter = new QComboBox(this);
    ComboMeter->setObjectName(QStringLiteral("ComboMeter"));
    ComboMeter->setMinimumWidth(220);
    top->addWidget(ComboMeter);
    top->addStretch(1);
    ButtonExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    ButtonExport->setObjectName(QStringLiteral("ButtonExport"));
    top->addWidget(ButtonExport);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    top->addWidget(close);
    layout->addLayout(top);
    GridEntries = new QTableWidget(0, 6, this);
    GridEntries->setObjectName(QStringLiteral("GridEntries"));
    GridEntries->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Meter"),
                                            QStringLiteral("Port, address"), QStringLiteral("What"),
                                            QStringLiteral("Changes"), QStringLiteral("Outcome")});
    GridEntries->verticalHeader()->hide();
    GridEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridEntries->setWordWrap(true);
    GridEntries->setColumnWidth(0, 170);
    GridEntries->setColumnWidth(1, 120);
    GridEntries->setColumnWidth(2, 100);
    GridEntries->setColumnWidth(3, 140);
    GridEntries->setColumnWidth(4, 260);
    GridEntries->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(GridEntries, 1);
    connect(ComboMeter, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
    connect(ButtonExport, &QPushButton::clicked, this, [this] { ButtonExportClick(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    Reload();
}

void TFormJournal::Reload() {
    FAll = ParseJournal(FFile.ReadAll());
    QStringList meters;
    for (const TJournalEntry& e : FAll)
        if (!meters.contains(MeterOf(e)))
            meters << MeterOf(e);
    meters.sort();
    const QString chosen = ComboMeter->currentText();
    {
        const QSignalBlocker block(ComboMeter);
        ComboMeter->clear();
        ComboMeter->addItem(AllMeters);
        ComboMeter->addItems(meters);
        const int again = ComboMeter->findText(chosen);
        ComboMeter->setCurrentIndex(again < 0 ? 0 : again);
    }
    Fill();
}

void TFormJournal::SetMeterFilter(const QString& serialNumber) {
    const int index = serialNumber.isEmpty() ? 0 : ComboMeter->findText(serialNumber);
    ComboMeter->setCurrentIndex(index < 0 ? 0 : index);
    Fill();
}

void TFormJournal::Fill() {
    const QString meter = ComboMeter->currentIndex() <= 0 ? QString() : ComboMeter->currentText();
    FShown.clear();
    for (auto it = FAll.rbegin(); it != FAll.rend(); ++it)
        if (meter.isEmpty() || MeterOf(*it) == meter)
            FShown.push_back(*it);
    // Written in time order already; a clock set back must not put an entry out of place.
    std::stable_sort(
        FShown.begin(), FShown.end(),
        [](const TJournalEntry& a, const TJournalEntry& b) { return a.Time > b.Time; });
    GridEntries->setRowCount(static_cast<int>(FShown.size()));
    for (int row = 0; row < static_cast<int>(FShown.size()); ++row) {
        const TJournalEntry& e = FShown[static_cast<std::size_t>(row)];
        QStringList changes;
        for (const TWriteChange& c : e.Write.Changes)
            changes << ChangeText(c);
        QString outcome = e.Outcome;
        if (e.Outcome == QLatin1String("exception"))
            outcome += QStringLiteral(" %1").arg(e.ExceptionCode);
        const QStringList cells = {IsoTime(e.Time),
                                   MeterOf(e),
                                   QStringLiteral("%1, %2").arg(e.Port).arg(e.Address),
                                   e.Write.What,
                                   changes.join(QLatin1Char('\n')),
                                   outcome};
        for (int col = 0; col < cells.size(); ++col)
            GridEntries->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    GridEntries->resizeRowsToContents();
}

void TFormJournal::ButtonExportClick() {
    const QString path =
        FDialogs.SaveDocumentName(this, QStringLiteral("CSV file (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // Oldest first in the export, as a spreadsheet reads a log.
    std::vector<TJournalEntry> rows(FShown.rbegin(), FShown.rend());
    QString error;
    if (!SaveWhole(path, JournalCsv(rows).toUtf8(), error))
        FDialogs.ShowError(error);
}
