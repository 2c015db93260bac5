// The main window: creating, showing and closing it, the link's state, connect and disconnect,
// and the commands that show a page or open a window.
#include "shell/frmMain.h"

#include "busview/frmBus.h"
#include "commissioning/Commissioning.h"
#include "commissioning/frmInstallCheck.h"
#include "comms/CommunicationHost.h"
#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "platform/PortName.h"
#include "shell/CannotOpenText.h"
#include "shell/DeviceMonitor.h"
#include "shell/MainActions.h"
#include "shell/PageArea.h"
#include "shell/ShellPages.h"
#include "shell/StatusPanels.h"
#include "shell/frmAbout.h"
#include "shell/frmConnection.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrend.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const QString MainTitle = QStringLiteral("KT580 Utility Software -- Veltrana Corporation");
// Beside the title while the port connected is the meter simulator's.
const QString SimulatorMark = QStringLiteral(" [Simulator]");

} // namespace

TFormKT580::TFormKT580(IDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), FDialogs(dialogs), FClose(*this) {
    setWindowTitle(MainTitle);
    setFont(UiFont());
    FActions = std::make_unique<TMainActions>(*this);
    ToolBar1 = FActions->ToolBar1;
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    FPageArea = std::make_unique<TPageArea>(central);
    ScrollBox1 = FPageArea->ScrollBox();
    layout->addWidget(ScrollBox1, 1);
    FStatus = std::make_unique<TStatusPanels>(central);
    StatusBar = FStatus->Bar();
    LabelNextStep = FStatus->NextStep();
    layout->addWidget(StatusBar);
    setCentralWidget(central);
    TimerShowDialog = new QTimer(this);
    TimerShowDialog->setSingleShot(true);
    TimerShowDialog->setTimerType(Qt::PreciseTimer);
    TimerShowDialog->setInterval(100);
    connect(TimerShowDialog, &QTimer::timeout, this, [this] { TimerShowDialogTimer(); });
    FormCreate();
}

TFormKT580::~TFormKT580() {
    // The pages and the dialog hold on to the link; they go before it. The link's own end
    // closes the port.
    FPageArea.reset();
    FFormTrend = nullptr;
    if (FFormModbus)
        FFormModbus->SetFailureCause({});
    FCommunication.reset();
    FFormConnection.reset();
    FCommissioning.reset();
    FDeviceMonitor.reset();
    FFormModbus.reset();
}

void TFormKT580::FormCreate() {
    FFormModbus = std::make_unique<TFormModbus>(*this, FDialogs);
    // Loads the stored connection values into the link, so it comes after the link.
    FFormConnection = std::make_unique<TFormConnection>(*FFormModbus, *this, FDialogs, this);
    FFormConnection->OnConnect = [this] {
        if (FFormModbus->State() == TConnectionState::Offline)
            StartConnectExecute();
    };
    FCommissioning = std::make_unique<TCommissioning>(*FFormModbus, FDialogs, this);
    FCommissioning->UtilityVersion = ProgramVersionText(VersionLookup);
    const TShellPages pages = CreatePages(*FFormModbus, FDialogs, &FCommissioning->Guard());
    QWidget* installCheck = FCommissioning->CreateInstallCheckPage();
    FFormModbus->SetViews(pages.MeteringView, pages.DeviceInfoView, pages.SettingsView);
    FTrendDialogs = std::make_unique<TQtTrendDialogs>(FDialogs);
    FFormTrend = new TFormTrend(*FFormModbus, FDialogs, *FTrendDialogs);
    FFormTrend->ProgramVersion = ProgramVersionText(VersionLookup);
    FCommunication =
        std::make_unique<TCommunicationHost>(*FFormModbus, FDialogs, this, FStatus->Panel(3));
    // The status bar names the cause of unanswered reads as the Communication window judges it.
    FFormModbus->SetFailureCause([this] { return FCommunication->Monitor().Verdict().Text; });
    FPageArea->Dock({pages.RTMetering, pages.DeviceInfo, pages.GeneralSettings, installCheck},
                    FFormTrend);
    FDeviceMonitor = CreateUdevMonitor();
    FFormConnection->SetDeviceMonitor(FDeviceMonitor.get());
    FActions->AddFindMeter();
    // The restored size and place, should the operator leave the maximised state (or the
    // desktop not maximise).
    const int bars =
        menuBar()->sizeHint().height() + ToolBar1->sizeHint().height() + StatusBar->height();
    setGeometry(FPageArea->RestoredGeometry(bars, screen()));
    // Maximised after the restored size is set: setting it would leave the maximised state.
    setWindowState(Qt::WindowMaximized);
    UpdateActionStates();
}

void TFormKT580::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void TFormKT580::FormShow() {
    FFormModbus->UpdateCommandStates();
    TimerShowDialog->start();
    ReadingsRealTimeMeteringExecute();
}

void TFormKT580::TimerShowDialogTimer() {
    TimerShowDialog->stop();
    if (FFormConnection->exec() != QDialog::Accepted &&
        FFormModbus->State() == TConnectionState::Offline)
        FStatus->ShowNextStep(FActions->NextStepText());
}

void TFormKT580::UpdateActionStates() {
    FActions->UpdateStates(FFormModbus->State() != TConnectionState::Offline, FClose.AfterWrites(),
                           FFormModbus->IsOnline());
}

void TFormKT580::ConnectionChanged(TConnectionState state) {
    const bool connected = state != TConnectionState::Offline;
    // Simulated values must never pass for a meter's: the title says whom the port reaches.
    const bool simulator =
        connected && SimulatorOnPort("COM" + std::to_string(FFormModbus->PortNum()));
    setWindowTitle(simulator ? MainTitle + SimulatorMark : MainTitle);
    if (connected)
        FStatus->HideNextStep();
    UpdateActionStates();
    if (!connected)
        FClose.Disconnected();
}

void TFormKT580::StartFindMeterExecute() {
    if (FFormModbus->State() == TConnectionState::Offline)
        FFormConnection->FindMeterFromMenu();
}

void TFormKT580::StartConnectExecute() {
    TFormModbus& modbus = *FFormModbus;
    if (!modbus.Open()) {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionError),
                            CannotOpenText(modbus.PortNum(), modbus.OpenSystemError()),
                            IDialogs::Critical, IDialogs::Ok);
        return;
    }
    // The meter and the adapter settle on the freshly opened line before the first frame.
    if (FConnectWait > 0)
        QThread::msleep(static_cast<unsigned long>(FConnectWait));
    modbus.SetState(TConnectionState::Online);
    FFormModbus->UpdateCommandStates();
    if (FFormModbus->RequestPageData())
        modbus.Start(true);
}

void TFormKT580::StartDisconnectExecute() {
    TFormModbus& modbus = *FFormModbus;
    modbus.RequestDisconnect();
    UpdateActionStates();
    modbus.UpdateCommandStates();
    if (modbus.Running())
        modbus.Stop();
    else
        FFormModbus->EndCycle();
}

void TFormKT580::StartConnectionSettingsExecute() {
    FFormConnection->exec();
}

void TFormKT580::StartExitExecute() {
    close();
}

void TFormKT580::closeEvent(QCloseEvent* event) {
    const TCloseProtocol::TStep step = FClose.Ask(*FFormModbus);
    if (step == TCloseProtocol::TStep::WaitForWrites) {
        // Offline from now on: no new command, and the end of the cycle closes the port.
        FFormModbus->RequestDisconnect();
        FFormModbus->UpdateCommandStates();
        UpdateActionStates();
    }
    if (step != TCloseProtocol::TStep::Close) {
        event->ignore();
        return;
    }
    FFormConnection->SaveSettings();
    event->accept();
}

void TFormKT580::ShowPage(QWidget* page) {
    if (FPageArea->Active())
        SetStatusText(0, QString());
    FPageArea->Show(page);
    if (page)
        FStatus->SetPageName(page->windowTitle(), FFormModbus->DeviceAddress());
}

void TFormKT580::RefreshStatusAddress() {
    FStatus->RefreshAddress(FFormModbus->DeviceAddress());
}

void TFormKT580::OpenPage(QWidget* page) {
    ShowPage(page);
    FFormModbus->RequestPageData();
}

void TFormKT580::SettingsGeneralSettingsExecute() {
    ShowPage(FormGeneralSettings());
    // A write from this page is backed up under the meter's serial number.
    if (FFormModbus->IsOnline())
        FCommissioning->EnsureSerialNumber();
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsCommunicationExecute() {
    FCommunication->Open();
}

void TFormKT580::ReadingsBusExecute() {
    if (!FBusWindow) {
        FBusWindow = new TFormBus(*FFormModbus, FDialogs, this);
        FBusWindow->setWindowFlag(Qt::Window);
        FBusWindow->setWindowTitle(QStringLiteral("Bus"));
        FBusWindow->resize(1100, 360);
    }
    FBusWindow->Refresh();
    FBusWindow->show();
    FBusWindow->raise();
}

void TFormKT580::ReadingsWriteJournalExecute() {
    FCommissioning->ShowJournal();
}

void TFormKT580::StartCommissioningReportExecute() {
    if (FFormModbus->IsOnline())
        FCommissioning->StartReport();
}

void TFormKT580::HelpAboutExecute() {
    TFormAbout about(VersionLookup, this);
    about.exec();
}
