#include "commissioning/frmJournal.h"

#include "commissioning/JournalFile.h"
#include "commissioning/JournalModel.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QString AllMeters = QStringLiteral("All meters");

} // namespace

TFormJournal::TFormJournal(TJournalFile& file, IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), FFile(file), FDialogs(dialogs), FModel(new TJournalModel(file.Path(), this)),
      FWatcher(new QFileSystemWatcher(this)) {
    setWindowTitle(QStringLiteral("Write Journal"));
    setFont(UiFont());
    resize(900, 520);
    new QVBoxLayout(this);
    BuildTop();
    BuildGrid();
    connect(FWatcher, &QFileSystemWatcher::fileChanged, this, [this] { Reload(); });
    connect(FWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { Reload(); });
    Reload();
}

void TFormJournal::BuildTop() {
    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Meter:"), this);
    label->setTextFormat(Qt::PlainText);
    top->addWidget(label);
    ComboMeter = new QComboBox(this);
    ComboMeter->setObjectName(QStringLiteral("ComboMeter"));
    ComboMeter->setAccessibleName(QStringLiteral("Meter"));
    ComboMeter->setMinimumWidth(220);
    top->addWidget(ComboMeter);
    top->addStretch(1);
    ButtonExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    ButtonExport->setObjectName(QStringLiteral("ButtonExport"));
    top->addWidget(ButtonExport);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    top->addWidget(close);
    static_cast<QVBoxLayout*>(layout())->addLayout(top);
    connect(ComboMeter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(ButtonExport, &QPushButton::clicked, this, [this] { ButtonExportClick(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void TFormJournal::BuildGrid() {
    GridEntries = new QTableView(this);
    GridEntries->setObjectName(QStringLiteral("GridEntries"));
    GridEntries->setAccessibleName(QStringLiteral("Journal entries"));
    // Tab goes on to the next control; the arrow keys move within the table.
    GridEntries->setTabKeyNavigation(false);
    GridEntries->setModel(FModel);
    GridEntries->verticalHeader()->hide();
    // One line a row, all rows as high: a long journal scrolls without measuring every row.
    GridEntries->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    GridEntries->setWordWrap(false);
    GridEntries->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridEntries->setSelectionMode(QAbstractItemView::SingleSelection);
    GridEntries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridEntries->verticalHeader()->setDefaultSectionSize(GridEntries->fontMetrics().height() + 8);
    const int widths[] = {170, 110, 80, 180, 210};
    for (int col = 0; col < 5; ++col)
        GridEntries->setColumnWidth(col, widths[col]);
    GridEntries->horizontalHeader()->setStretchLastSection(true);
    EditDetails = new QPlainTextEdit(this);
    EditDetails->setObjectName(QStringLiteral("EditDetails"));
    EditDetails->setAccessibleName(QStringLiteral("Entry details"));
    EditDetails->setTabChangesFocus(true);
    EditDetails->setReadOnly(true);
    EditDetails->setMaximumHeight(110);
    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    LabelStatus->setTextFormat(Qt::PlainText);
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addWidget(GridEntries, 1);
    layout->addWidget(EditDetails);
    layout->addWidget(LabelStatus);
    connect(GridEntries->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { ShowDetails(); });
}

void TFormJournal::Reload() {
    FModel->Refresh();
    FillMeters();
    ShowStatus();
    Watch();
}

void TFormJournal::Watch() {
    // The folder tells of a journal made or replaced, the file of what is appended to it.
    const QString path = FFile.Path();
    const QString folder = QFileInfo(path).absolutePath();
    if (!FWatcher->directories().contains(folder) && QFileInfo(folder).isDir())
        FWatcher->addPath(folder);
    if (!FWatcher->files().contains(path) && QFileInfo(path).isFile())
        FWatcher->addPath(path);
}

void TFormJournal::FillMeters() {
    QStringList meters = {AllMeters};
    QStringList found;
    for (const QString& m : FModel->Meters())
        found << JournalMeterText(m.isEmpty() ? std::nullopt : std::optional(m));
    found.sort();
    meters << found;
    QStringList shown;
    for (int k = 0; k < ComboMeter->count(); ++k)
        shown << ComboMeter->itemText(k);
    if (shown == meters)
        return;
    const QString chosen = ComboMeter->currentText();
    const QSignalBlocker block(ComboMeter);
    ComboMeter->clear();
    ComboMeter->addItems(meters);
    const int again = ComboMeter->findText(chosen);
    ComboMeter->setCurrentIndex(again < 0 ? 0 : again);
}

void TFormJournal::SetMeterFilter(const QString& serialNumber) {
    const int index = serialNumber.isEmpty() ? 0 : ComboMeter->findText(serialNumber);
    ComboMeter->setCurrentIndex(index < 0 ? 0 : index);
    ApplyFilter();
}

void TFormJournal::ApplyFilter() {
    std::optional<QString> meter;
    if (ComboMeter->currentIndex() > 0) {
        // The combo shows the unknown serial number in words; the journal writes it as "".
        for (const QString& m : FModel->Meters())
            if (JournalMeterText(m.isEmpty() ? std::nullopt : std::optional(m)) ==
                ComboMeter->currentText())
                meter = m;
    }
    FModel->SetMeter(meter);
    ShowStatus();
}

int TFormJournal::ShownCount() const {
    return FModel->rowCount();
}

std::optional<TJournalEntry> TFormJournal::ShownEntry(int row) const {
    return FModel->Entry(row);
}

void TFormJournal::ShowStatus() {
    QString text = FModel->ReadError().isEmpty()
                       ? QStringLiteral("%1 entries shown").arg(FModel->rowCount())
                       : QStringLiteral("The write journal %1 cannot be read: %2")
                             .arg(FFile.Path(), FModel->ReadError());
    if (FModel->Broken() > 0)
        text +=
            FModel->Broken() == 1
                ? QStringLiteral("; 1 damaged line of the file skipped")
                : QStringLiteral("; %1 damaged lines of the file skipped").arg(FModel->Broken());
    LabelStatus->setText(text);
}

void TFormJournal::ShowDetails() {
    const auto e = FModel->Entry(GridEntries->currentIndex().row());
    if (!e) {
        EditDetails->clear();
        return;
    }
    QStringList lines = {e->Write.What + QStringLiteral(" - ") + OutcomeShown(*e)};
    for (const TWriteChange& c : e->Write.Changes)
        lines << QStringLiteral("  ") + ChangeText(c);
    lines << QStringLiteral("Query: ") + e->Query;
    EditDetails->setPlainText(lines.join(QLatin1Char('\n')));
}

void TFormJournal::ButtonExportClick() {
    // Named for the meter chosen in the filter, if one is.
    const QString serial = ComboMeter->currentIndex() > 0 ? ComboMeter->currentText() : QString();
    const QString path =
        FDialogs.SaveDocument(this, QStringLiteral("journal"), serial,
                              QStringLiteral("CSV file (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // Every matching entry of the file, oldest first as a spreadsheet reads a log, streamed:
    // the old file stays until the new one is whole.
    QSaveFile out(path);
    QString error;
    const auto put = [&out](const QString& text) {
        const QByteArray bytes = text.toUtf8();
        return out.write(bytes) == bytes.size();
    };
    bool ok = out.open(QIODevice::WriteOnly) && put(JournalCsvHeading());
    if (ok)
        ok = FModel->ForEachMatching([&](const TJournalEntry& e) { return put(JournalCsvRow(e)); },
                                     error);
    if (ok && out.commit())
        return;
    out.cancelWriting();
    FDialogs.ShowError(QStringLiteral("The journal could not be exported to %1: %2")
                           .arg(path, error.isEmpty() ? out.errorString() : error));
}
