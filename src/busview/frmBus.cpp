#include "busview/frmBus.h"

#include "meter/QueryPlan.h"
#include "widgets/UiFont.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The silence between frames the master keeps, in ms.
constexpr int FrameSilenceMs = 5;

std::optional<double> MeanOf(const TMeterReading& reading, int first, int count) {
    double sum = 0;
    for (int i = first; i < first + count; ++i) {
        const auto value = reading.Value(i);
        if (!value)
            return std::nullopt;
        sum += *value;
    }
    return sum / count;
}

std::optional<double> LargestOf(const TMeterReading& reading, int first, int count) {
    std::optional<double> largest;
    for (int i = first; i < first + count; ++i)
        if (const auto value = reading.Value(i))
            largest = std::max(largest.value_or(*value), *value);
    return largest;
}

} // namespace

TFormBus::TFormBus(TFormModbus& link, IDialogs& dialogs, QWidget* parent)
    : QWidget(parent), FLink(link), FDialogs(dialogs) {
    setFont(UiFont());
    auto* layout = new QVBoxLayout(this);
    FTable = new QTableWidget(0, int(BusColumnTitles().size()), this);
    FTable->setHorizontalHeaderLabels(BusColumnTitles());
    FTable->verticalHeader()->hide();
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setSelectionMode(QAbstractItemView::SingleSelection);
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(FTable, 1);
    FSummary = new QLabel(this);
    FSummary->setWordWrap(true);
    layout->addWidget(FSummary);
    FHints = new QLabel(this);
    FHints->setWordWrap(true);
    layout->addWidget(FHints);
    auto* buttons = new QHBoxLayout;
    FPause = new QPushButton(QStringLiteral("Pause"), this);
    FResume = new QPushButton(QStringLiteral("Resume"), this);
    auto* exportButton = new QPushButton(QStringLiteral("Export..."), this);
    buttons->addWidget(FPause);
    buttons->addWidget(FResume);
    buttons->addStretch();
    buttons->addWidget(exportButton);
    layout->addLayout(buttons);
    connect(FPause, &QPushButton::clicked, this, [this] { PauseSelected(true); });
    connect(FResume, &QPushButton::clicked, this, [this] { PauseSelected(false); });
    connect(exportButton, &QPushButton::clicked, this, [this] { Export(); });
    connect(FTable, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { SelectRow(row); });
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        if (isVisible())
            Refresh();
    });
    timer->start(1000);
    Refresh();
}

TBusMeterFacts TFormBus::Facts(int address) const {
    TBusMeterFacts facts;
    facts.Address = address;
    const TMeterModel* meter = FLink.BusMeter(address);
    if (meter == nullptr)
        return facts;
    facts.SerialNumber = meter->SerialNumber();
    facts.SoftwareVersion = meter->SoftwareVersion();
    if (const auto& m = meter->Latest(TMeteringBlock::Measurement)) {
        facts.TotalPowerKw = m->Value(12);
        facts.MeanVoltageV = MeanOf(*m, 0, 3);
        facts.LargestCurrentA = LargestOf(*m, 6, 3);
    }
    // Counter 2 (Ep_imp) at the offset of its low word; the short block has none.
    if (const auto& e = meter->Latest(TMeteringBlock::Energy))
        facts.EnergyImportKwh = e->Value(4);
    return facts;
}

int TFormBus::AddressOfRow(int row) const {
    const auto& addresses = FLink.BusAddresses();
    return row >= 0 && row < int(addresses.size()) ? addresses[std::size_t(row)] : 0;
}

void TFormBus::Refresh() {
    const std::int64_t now = FLink.Now();
    const TBusSchedule& bus = FLink.Bus();
    FRows.clear();
    for (const int address : FLink.BusAddresses())
        FRows.push_back(BusRowCells(Facts(address), bus, now));
    ShowRows();
    if (FRows.empty()) {
        FSummary->setText(QStringLiteral("One meter on the line. To read several, list their "
                                         "addresses in Connection Settings (e.g. 1,3,7-9)."));
        FHints->clear();
        return;
    }
    FSummary->setText(BusLineSummary(bus, now, FrameSilenceMs, FLink.QueryTimeout()));
    FHints->setText(BusHints(bus, FLink.QueryTimeout()).join(QLatin1Char('\n')));
}

void TFormBus::ShowRows() {
    FTable->setRowCount(int(FRows.size()));
    for (int r = 0; r < int(FRows.size()); ++r) {
        const bool selected = AddressOfRow(r) == FLink.DeviceAddress();
        for (int c = 0; c < int(FRows[std::size_t(r)].size()); ++c) {
            auto* item = new QTableWidgetItem(FRows[std::size_t(r)][c]);
            QFont font = item->font();
            font.setBold(selected);
            item->setFont(font);
            FTable->setItem(r, c, item);
        }
    }
}

void TFormBus::SelectRow(int row) {
    if (FLink.SelectMeter(AddressOfRow(row)))
        Refresh();
}

void TFormBus::PauseSelected(bool pause) {
    const int address = AddressOfRow(FTable->currentRow());
    if (address == 0)
        return;
    if (pause)
        FLink.PauseMeter(address);
    else
        FLink.ResumeMeter(address);
    Refresh();
}

bool TFormBus::Export() {
    const QString path =
        FDialogs.SaveDocument(this, QStringLiteral("bus"), QString(),
                              QStringLiteral("CSV file (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return false;
    // The old file stays until the new one is whole.
    QSaveFile out(path);
    const QByteArray bytes = BusCsv(BusColumnTitles(), FRows).toUtf8();
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
        return true;
    out.cancelWriting();
    FDialogs.ShowError(
        QStringLiteral("The bus table could not be saved to %1: %2. Choose another folder.")
            .arg(path, out.errorString()));
    return false;
}
