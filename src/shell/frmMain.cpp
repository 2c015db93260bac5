#include "shell/frmMain.h"

#include "commissioning/Commissioning.h"
#include "commissioning/frmInstallCheck.h"
#include "comms/CommunicationHost.h"
#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "platform/PortName.h"
#include "shell/DeviceMonitor.h"
#include "shell/ShellPages.h"
#include "shell/frmConnection.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrend.h"
#include "widgets/UiFont.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QTimer>

namespace {

const QString MainTitle = QStringLiteral("KT580 Utility Software -- Veltrana Corporation");
// Beside the title while the port connected is the meter simulator's.
const QString SimulatorMark = QStringLiteral(" [Simulator]");

} // namespace

TFormKT580::TFormKT580(IDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), FDialogs(dialogs) {
    setWindowTitle(MainTitle);
    setFont(UiFont());
    CreateActions();
    CreateCommissioningActions();
    CreateMenu();
    CreateToolBar();
    CreatePageArea();
    CreateStatusBar();
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
    for (QWidget*& page : FPages) {
        delete page;
        page = nullptr;
    }
    delete FFormTrend;
    FFormTrend = nullptr;
    FActivePage = nullptr;
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
        if (!FConnected)
            StartConnectExecute();
    };
    FCommissioning = std::make_unique<TCommissioning>(*FFormModbus, FDialogs, this);
    FCommissioning->UtilityVersion = ProgramVersionText(VersionLookup);
    const TShellPages pages = CreatePages(*FFormModbus, FDialogs, &FCommissioning->Guard());
    FPages = {pages.RTMetering, pages.DeviceInfo, pages.GeneralSettings,
              FCommissioning->CreateInstallCheckPage()};
    FFormModbus->SetViews(pages.MeteringView, pages.DeviceInfoView, pages.SettingsView);
    FTrendDialogs = std::make_unique<TQtTrendDialogs>(FDialogs);
    FFormTrend = new TFormTrend(*FFormModbus, FDialogs, *FTrendDialogs);
    FFormTrend->ProgramVersion = ProgramVersionText(VersionLookup);
    FCommunication = std::make_unique<TCommunicationHost>(*FFormModbus, FDialogs, this, FPanels[3]);
    // The status bar names the cause of unanswered reads as the Communication window judges it.
    FFormModbus->SetFailureCause([this] { return FCommunication->Monitor().Verdict().Text; });
    DockPages();
    CreateFindMeter();
    SizeForPages();
    // Maximised after the restored size is set: setting it would leave the maximised state.
    setWindowState(Qt::WindowMaximized);
    UpdateActionStates();
}

bool TFormKT580::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StatusBar && event->type() == QEvent::Resize)
        StatusBarResize();
    if (watched == ScrollBox1->viewport() && event->type() == QEvent::Resize)
        FitPage();
    return QMainWindow::eventFilter(watched, event);
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
    if (FFormConnection->exec() != QDialog::Accepted && !FConnected) {
        LabelNextStep->setText(NextStepText());
        LabelNextStep->setToolTip(LabelNextStep->text());
        LabelNextStep->show();
    }
}

// Named by the menu captions as the operator sees them.
QString TFormKT580::NextStepText() const {
    const auto caption = [](const QAction* action) {
        QString text = action->text();
        text.remove(QLatin1Char('&'));
        if (text.endsWith(QLatin1String("...")))
            text.chop(3);
        return text;
    };
    const QString start = caption(menuBar()->actions().value(0));
    return QStringLiteral("Not connected. Choose %1 > %2 to pick the meter's port, or %1 > %3.")
        .arg(start, caption(StartConnectionSettings), caption(StartFindMeter));
}

void TFormKT580::SetConnected(bool value) {
    FConnected = value;
    // Simulated values must never pass for a meter's: the title says whom the port reaches.
    const bool simulator =
        FConnected && SimulatorOnPort("COM" + std::to_string(FFormModbus->PortNum()));
    setWindowTitle(simulator ? MainTitle + SimulatorMark : MainTitle);
    if (FConnected)
        LabelNextStep->hide();
    UpdateActionStates();
    if (!FConnected && FCloseAfterWrites && !FCloseScheduled) {
        // The writes are out and the port is closed: the close asked for earlier goes ahead,
        // from the event loop, once the master's event has returned.
        FCloseScheduled = true;
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}
