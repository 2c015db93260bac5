#include "shell/frmFindMeter.h"

#include "platform/PortName.h"
#include "platform/PosixSerialDevice.h"
#include "serial/OpenFailure.h"
#include "shell/DeviceMonitor.h"
#include "shell/PortListMarks.h"
#include "widgets/UiFont.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <iterator>

namespace {

// How often the window looks at the scan's progress: smooth enough for the bar, and a
// meter found shows within a tenth of a second.
constexpr int PollMs = 100;

QLabel* MakeLabel(const QString& text, const QRect& bounds, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(bounds);
    return label;
}

QPushButton* MakeButton(const QString& text, const QRect& bounds, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(bounds);
    return button;
}

} // namespace

TFormFindMeter::TFormFindMeter(QWidget* parent)
    : QDialog(parent), FFactory([] { return std::make_unique<TPosixSerialDevice>(); }) {
    BuildControls();
    FPoll = new QTimer(this);
    FPoll->setInterval(PollMs);
    connect(FPoll, &QTimer::timeout, this, [this] { RefreshStatus(); });
    UpdateButtons();
}

TFormFindMeter::~TFormFindMeter() {
    if (FScanner)
        FScanner->Cancel();
}

void TFormFindMeter::BuildControls() {
    setWindowTitle(QStringLiteral("Find Meter"));
    setFont(UiFont());
    setFixedSize(560, 330);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    BuildSearchGroup();
    BuildProgress();
    BuildFoundList();
    ButtonStart = MakeButton(QStringLiteral("Start"), {470, 10, 75, 23}, this);
    ButtonCancel = MakeButton(QStringLiteral("Cancel"), {470, 42, 75, 23}, this);
    ButtonUseConnect = MakeButton(QStringLiteral("Use and Connect"), {268, 296, 115, 23}, this);
    ButtonUse = MakeButton(QStringLiteral("Use"), {389, 296, 75, 23}, this);
    ButtonClose = MakeButton(QStringLiteral("Close"), {470, 296, 75, 23}, this);

    connect(ButtonStart, &QPushButton::clicked, this, [this] { ButtonStartClick(); });
    connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
    connect(ButtonUse, &QPushButton::clicked, this, [this] { ButtonUseClick(); });
    connect(ButtonUseConnect, &QPushButton::clicked, this, [this] { ButtonUseConnectClick(); });
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListFound, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    // A double-click on a meter found uses it and connects to it.
    connect(ListFound, &QTreeWidget::itemDoubleClicked, this, [this] { ButtonUseConnectClick(); });
}

// The port to scan and how far to search.
void TFormFindMeter::BuildSearchGroup() {
    auto* group = new QGroupBox(this);
    group->setGeometry(11, 2, 440, 74);
    MakeLabel(QStringLiteral("Com Port:"), {8, 14, 76, 16}, group);
    ComboPort = new QComboBox(group);
    ComboPort->setGeometry(88, 12, 89, 21);
    ComboPort->setAccessibleName(QStringLiteral("Com port"));
    for (int n = 1; n <= 128; ++n)
        ComboPort->addItem(QStringLiteral("COM%1").arg(n));
    MakeLabel(QStringLiteral("Search:"), {8, 42, 76, 16}, group);
    RadioFirst = new QRadioButton(QStringLiteral("Stop at the first meter"), group);
    RadioFirst->setGeometry(88, 40, 160, 20);
    RadioFirst->setChecked(true);
    RadioEvery = new QRadioButton(QStringLiteral("Find every meter on the line"), group);
    RadioEvery->setGeometry(250, 40, 185, 20);
}

// The bar, the setting being tried, the time left and what the line showed.
void TFormFindMeter::BuildProgress() {
    ProgressScan = new QProgressBar(this);
    ProgressScan->setGeometry(11, 84, 440, 16);
    ProgressScan->setRange(0, 1000);
    ProgressScan->setTextVisible(false);
    ProgressScan->setAccessibleName(QStringLiteral("Search progress"));
    LabelTrying = MakeLabel(QString(), {11, 104, 300, 16}, this);
    LabelRemaining = MakeLabel(QString(), {311, 104, 140, 16}, this);
    LabelRemaining->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelNotes = MakeLabel(QString(), {11, 122, 534, 32}, this);
    LabelNotes->setWordWrap(true);
    LabelNotes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The advice for a port that did not open holds a command to copy.
    LabelNotes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelNotes->setAccessibleName(QStringLiteral("What the line showed"));
}

void TFormFindMeter::BuildFoundList() {
    struct TColumn {
        const char* Title;
        int Width;
    };
    static constexpr TColumn Columns[] = {
        {"Port", 50},  {"Address", 55},           {"Baud Rate", 65},     {"Parity", 50},
        {"Model", 55}, {"Software Version", 100}, {"Serial Number", 130}};
    ListFound = new QTreeWidget(this);
    ListFound->setGeometry(11, 158, 534, 128);
    ListFound->setRootIsDecorated(false);
    ListFound->setAccessibleName(QStringLiteral("Meters found"));
    QStringList titles;
    for (const TColumn& column : Columns)
        titles << QString::fromLatin1(column.Title);
    ListFound->setHeaderLabels(titles);
    for (int c = 0; c < static_cast<int>(std::size(Columns)); ++c)
        ListFound->setColumnWidth(c, Columns[c].Width);
    ListFound->header()->setStretchLastSection(true);
}

void TFormFindMeter::Prepare(int portNum, const TScanSetting& setting, std::uint8_t address) {
    if (Scanning())
        return;
    ComboPort->setCurrentIndex(std::clamp(portNum, 1, 128) - 1);
    FSetting = setting;
    FAddress = address;
    FChosen.reset();
    FConnectAsked = false;
    FShown.clear();
    ListFound->clear();
    ProgressScan->setValue(0);
    LabelTrying->clear();
    LabelRemaining->clear();
    LabelNotes->clear();
    LabelNotes->setGeometry(11, 122, 534, 32);
    ListFound->show();
    RefreshPorts();
    UpdateButtons();
}

void TFormFindMeter::SetDeviceMonitor(TDeviceMonitor* monitor) {
    if (monitor != nullptr)
        connect(monitor, &TDeviceMonitor::Changed, this, [this] { RefreshPorts(); });
}

void TFormFindMeter::SetDeviceFactory(TMeterScanner::TDeviceFactory factory) {
    FFactory = std::move(factory);
}

void TFormFindMeter::RefreshPorts() {
    MarkPresentPorts(ComboPort);
}

void TFormFindMeter::ButtonStartClick() {
    if (Scanning())
        return;
    FShown.clear();
    ListFound->clear();
    ListFound->show();
    LabelNotes->clear();
    LabelNotes->setGeometry(11, 122, 534, 32);
    FChosen.reset();
    const QString port = ComboPort->currentText();
    TScanPlan plan(ScanSettingOrder(FSetting), FAddress,
                   RadioEvery->isChecked() ? TScanMode::EveryMeter : TScanMode::FirstMeter,
                   FTurnaround);
    LabelRemaining->setText(RemainingText(plan.PlannedSeconds()));
    FScanner = std::make_unique<TMeterScanner>(FFactory);
    FScanShown = FScanner->Start(ResolvePortName(port.toStdString()), port, std::move(plan));
    FPoll->start();
    UpdateButtons();
}

void TFormFindMeter::ButtonCancelClick() {
    if (!Scanning())
        return;
    // Returns once the scan's thread has closed the port.
    FScanner->Cancel();
    RefreshStatus();
}

void TFormFindMeter::reject() {
    if (FScanner)
        FScanner->Cancel();
    FPoll->stop();
    FScanShown = false;
    QDialog::reject();
}

void TFormFindMeter::ButtonUseClick() {
    UseCurrent(false);
}

void TFormFindMeter::ButtonUseConnectClick() {
    UseCurrent(true);
}

void TFormFindMeter::UseCurrent(bool connect) {
    const QTreeWidgetItem* item = ListFound->currentItem();
    if (item == nullptr)
        return;
    const int row = ListFound->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    if (row < 0 || row >= static_cast<int>(FShown.size()))
        return;
    if (FScanner)
        FScanner->Cancel();
    FPoll->stop();
    FScanShown = false;
    FChosen = FShown[static_cast<std::size_t>(row)];
    FConnectAsked = connect;
    accept();
}

void TFormFindMeter::RefreshStatus() {
    if (!FScanner)
        return;
    const TScanStatus status = FScanner->Status();
    ProgressScan->setValue(static_cast<int>(status.Fraction * 1000));
    for (std::size_t i = FShown.size(); i < status.Found.size(); ++i) {
        const TMeterFound& m = status.Found[i];
        auto* item = new QTreeWidgetItem(
            QStringList{m.Port, QString::number(m.Address), QString::number(m.Setting.Baud),
                        ParityText(m.Setting.Parity), m.Model, m.SoftVersion, m.SerialNumber});
        ListFound->addTopLevelItem(item);
        FShown.push_back(m);
        if (ListFound->currentItem() == nullptr)
            ListFound->setCurrentItem(item);
    }
    LabelNotes->setText(status.Notes.join(QStringLiteral("; ")));
    if (status.End == TScanStatus::Running) {
        LabelTrying->setText(status.Trying.isEmpty() ? QString()
                                                     : QStringLiteral("Trying ") + status.Trying);
        LabelRemaining->setText(RemainingText(status.RemainingSeconds));
    } else if (FScanShown) {
        ShowEnd(status);
    }
    UpdateButtons();
}

// The end of a scan, once: why it ended and, for a port that did not open, what would help.
void TFormFindMeter::ShowEnd(const TScanStatus& status) {
    FPoll->stop();
    LabelRemaining->clear();
    switch (status.End) {
    case TScanStatus::Running:
        return;
    case TScanStatus::Finished:
        LabelTrying->setText(status.Found.empty()
                                 ? QStringLiteral("No meter found")
                                 : QStringLiteral("Meters found: %1").arg(status.Found.size()));
        break;
    case TScanStatus::Cancelled:
        LabelTrying->setText(QStringLiteral("Cancelled"));
        break;
    case TScanStatus::OpenFailed:
    case TScanStatus::Vanished:
        LabelTrying->setText(ComboPort->currentText() + QStringLiteral(": ") + status.Failure);
        break;
    }
    const std::string advice =
        status.End == TScanStatus::OpenFailed
            ? OpenFailureAdviceFor(status.SystemError,
                                   ResolvePortName(ComboPort->currentText().toStdString()))
            : std::string();
    if (!advice.empty()) {
        // Nothing was found: the advice takes the list's place.
        ListFound->hide();
        LabelNotes->setGeometry(11, 122, 534, 164);
        LabelNotes->setText(QString::fromStdString(advice));
    }
    FScanShown = false;
    if (OnScanFinished)
        OnScanFinished();
}

void TFormFindMeter::UpdateButtons() {
    const bool scanning = Scanning();
    ButtonStart->setEnabled(!scanning);
    ComboPort->setEnabled(!scanning);
    RadioFirst->setEnabled(!scanning);
    RadioEvery->setEnabled(!scanning);
    ButtonCancel->setEnabled(scanning);
    const bool found = ListFound->currentItem() != nullptr;
    ButtonUse->setEnabled(found);
    ButtonUseConnect->setEnabled(found);
    // Once a meter is found, Enter uses it; before, Enter starts the search.
    ButtonUse->setDefault(found);
    ButtonStart->setDefault(!found);
}
