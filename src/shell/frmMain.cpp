#include "shell/frmMain.h"

#include "commissioning/Commissioning.h"
#include "commissioning/frmInstallCheck.h"
#include "comms/CommunicationHost.h"
#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "platform/PortName.h"
#include "serial/OpenFailure.h"
#include "settings/frmGeneralSettings.h"
#include "shell/DeviceMonitor.h"
#include "shell/ShellIcons.h"
#include "shell/ShellPages.h"
#include "shell/frmAbout.h"
#include "shell/frmConnection.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrend.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const PageCaptions[4] = {"Real-Time Metering", "Device Information", "General Settings",
                                     "Installation Check"};
const QString AddressMark = QStringLiteral(" @ ");
const QString MainTitle = QStringLiteral("KT580 Utility Software -- Veltrana Corporation");
// Beside the title while the port connected is the meter simulator's.
const QString SimulatorMark = QStringLiteral(" [Simulator]");
// One line of the status bar's panels.
constexpr int StatusBarHeight = 19;

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
    const TShellPages pages = CreatePages(*FFormModbus, FDialogs);
    FPages = {pages.RTMetering, pages.DeviceInfo, pages.GeneralSettings,
              FCommissioning->CreateInstallCheckPage()};
    FFormModbus->SetViews(pages.MeteringView, pages.DeviceInfoView, pages.SettingsView);
    FTrendDialogs = std::make_unique<TQtTrendDialogs>(FDialogs);
    FFormTrend = new TFormTrend(*FFormModbus, FDialogs, *FTrendDialogs);
    FFormTrend->ProgramVersion = ProgramVersionText(VersionLookup);
    if (auto* settings = dynamic_cast<TFormGeneralSettings*>(pages.GeneralSettings))
        settings->SetWriteGuard(&FCommissioning->Guard());
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

// The restored size and place, should the operator leave the maximised state (or the desktop
// not maximise): room for the largest page and the bars around it, as far as the screen
// allows, in the middle of the screen.
void TFormKT580::SizeForPages() {
    QSize page(0, 0);
    for (const QWidget* p : FPages)
        if (p != nullptr)
            page = page.expandedTo(p->size());
    // The Trend page grows with the window, down to its own least size.
    if (FFormTrend)
        page = page.expandedTo(FFormTrend->minimumSize());
    const int frame = 2 * ScrollBox1->frameWidth();
    const int bars =
        menuBar()->sizeHint().height() + ToolBar1->sizeHint().height() + StatusBar->height();
    QSize size(page.width() + frame, page.height() + frame + bars);
    QRect area(192, 114, size.width(), size.height());
    if (const QScreen* s = screen()) {
        size = size.boundedTo(s->availableGeometry().size());
        area = QRect(QPoint(0, 0), size);
        area.moveCenter(s->availableGeometry().center());
    }
    setGeometry(area);
}

void TFormKT580::CreateFindMeter() {
    FDeviceMonitor = CreateUdevMonitor();
    FFormConnection->SetDeviceMonitor(FDeviceMonitor.get());
    StartFindMeter = new QAction(QStringLiteral("&Find Meter..."), this);
    StartFindMeter->setToolTip(QStringLiteral("Find the meter on a port"));
    StartFindMeter->setProperty("category", QStringLiteral("Start"));
    connect(StartFindMeter, &QAction::triggered, this, [this] { StartFindMeterExecute(); });
    // In the Start menu, just above Connection Settings.
    if (QMenu* start = menuBar()->actions().value(0)->menu())
        start->insertAction(StartConnectionSettings, StartFindMeter);
}

void TFormKT580::StartFindMeterExecute() {
    if (!FConnected)
        FFormConnection->FindMeterFromMenu();
}

void TFormKT580::CreateActions() {
    struct TActionRow {
        QAction** Target;
        const char* Category;
        const char* Caption;
        const char* Hint;
        TActionImage Image;
        void (TFormKT580::*Execute)();
    };
    const TActionRow rows[] = {
        {&StartConnect, "Start", "&Connect", "Connect", TActionImage::Connect,
         &TFormKT580::StartConnectExecute},
        {&StartDisconnect, "Start", "&Disconnect", "Disconnect", TActionImage::Disconnect,
         &TFormKT580::StartDisconnectExecute},
        {&StartConnectionSettings, "Start", "Connection Se&ttings...", "Connection Settings",
         TActionImage::ConnectionSettings, &TFormKT580::StartConnectionSettingsExecute},
        {&StartExit, "Start", "E&xit", "Quit the application", TActionImage::Exit,
         &TFormKT580::StartExitExecute},
        {&ReadingsRealTimeMetering, "Readings", "Real-Time &Metering", "Real-Time Metering",
         TActionImage::RealTimeMetering, &TFormKT580::ReadingsRealTimeMeteringExecute},
        {&ReadingsDeviceInformation, "Readings", "Device &Information", "Device Information",
         TActionImage::DeviceInformation, &TFormKT580::ReadingsDeviceInformationExecute},
        {&ReadingsTrend, "Readings", "&Trend", "Trend", TActionImage::Trend,
         &TFormKT580::ReadingsTrendExecute},
        {&SettingsGeneralSettings, "Settings", "&General Settings", "General Settings",
         TActionImage::GeneralSettings, &TFormKT580::SettingsGeneralSettingsExecute},
        {&HelpAbout, "Help", "&About...", "About the software", TActionImage::About,
         &TFormKT580::HelpAboutExecute},
    };
    for (const TActionRow& row : rows) {
        auto* action = new QAction(ActionIcon(row.Image), QString::fromLatin1(row.Caption), this);
        action->setToolTip(QString::fromLatin1(row.Hint));
        action->setProperty("category", QString::fromLatin1(row.Category));
        action->setIconVisibleInMenu(true);
        const auto execute = row.Execute;
        connect(action, &QAction::triggered, this, [this, execute] { (this->*execute)(); });
        *row.Target = action;
    }
}

void TFormKT580::CreateCommissioningActions() {
    const auto add = [this](const char* caption, const char* hint, void (TFormKT580::*execute)()) {
        auto* action = new QAction(QString::fromLatin1(caption), this);
        action->setToolTip(QString::fromLatin1(hint));
        connect(action, &QAction::triggered, this, [this, execute] { (this->*execute)(); });
        return action;
    };
    ReadingsInstallationCheck = add("Installation &Check", "Installation Check",
                                    &TFormKT580::ReadingsInstallationCheckExecute);
    ReadingsWriteJournal =
        add("Write &Journal", "Write Journal", &TFormKT580::ReadingsWriteJournalExecute);
    StartCommissioningReport = add("Commissioning &Report...", "Commissioning Report",
                                   &TFormKT580::StartCommissioningReportExecute);
}

void TFormKT580::CreateMenu() {
    QMenuBar* bar = menuBar();
    QMenu* start = bar->addMenu(QStringLiteral("&Start"));
    start->addAction(StartConnect);
    start->addAction(StartDisconnect);
    start->addSeparator();
    start->addAction(StartConnectionSettings);
    start->addSeparator();
    start->addAction(StartCommissioningReport);
    start->addSeparator();
    start->addAction(StartExit);
    QMenu* readings = bar->addMenu(QStringLiteral("&Readings"));
    readings->addAction(ReadingsRealTimeMetering);
    readings->addSeparator();
    readings->addAction(ReadingsDeviceInformation);
    readings->addSeparator();
    readings->addAction(ReadingsTrend);
    readings->addAction(ReadingsInstallationCheck);
    readings->addSeparator();
    ReadingsCommunication = readings->addAction(QStringLiteral("C&ommunication"), this,
                                                [this] { ReadingsCommunicationExecute(); });
    ReadingsCommunication->setToolTip(QStringLiteral("Communication statistics and frame log"));
    readings->addAction(ReadingsWriteJournal);
    bar->addMenu(QStringLiteral("Se&ttings"))->addAction(SettingsGeneralSettings);
    bar->addMenu(QStringLiteral("&Help"))->addAction(HelpAbout);
}

void TFormKT580::CreateToolBar() {
    ToolBar1 = new QToolBar(QStringLiteral("ToolBar1"), this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setFixedHeight(26);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar::separator { width: 8px; }"));
    ToolBar1->addAction(StartConnect);
    ToolBar1->addAction(StartDisconnect);
    ToolBar1->addAction(StartConnectionSettings);
    ToolBar1->addSeparator();
    ToolBar1->addAction(ReadingsRealTimeMetering);
    ToolBar1->addAction(ReadingsDeviceInformation);
    ToolBar1->addAction(ReadingsTrend);
    ToolBar1->addSeparator();
    ToolBar1->addAction(SettingsGeneralSettings);
    ToolBar1->addSeparator();
    ToolBar1->addAction(HelpAbout);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
}

void TFormKT580::CreatePageArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ScrollBox1 = new QScrollArea(central);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FPageHost = new QWidget;
    FPageHost->resize(0, 0);
    ScrollBox1->setWidget(FPageHost);
    ScrollBox1->viewport()->installEventFilter(this);
    layout->addWidget(ScrollBox1, 1);
    StatusBar = new QWidget(central);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    layout->addWidget(StatusBar);
    setCentralWidget(central);
}

void TFormKT580::CreateStatusBar() {
    StatusBar->setFixedHeight(StatusBarHeight);
    for (std::size_t i = 0; i < FPanels.size(); ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
        panel->setGeometry(static_cast<int>(i) * 50, 0, 50, 19);
        FPanels[i] = panel;
    }
    // Panel 1 carries the line's verdict, a sentence or two the operator acts on: it wraps and
    // the bar grows to show all of it.
    FPanels[1]->setWordWrap(true);
    LabelNextStep = new QLabel(StatusBar);
    LabelNextStep->setObjectName(QStringLiteral("NextStep"));
    LabelNextStep->setTextFormat(Qt::PlainText);
    LabelNextStep->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    LabelNextStep->setIndent(2);
    LabelNextStep->setAutoFillBackground(true);
    LabelNextStep->hide();
    StatusBar->installEventFilter(this);
}

void TFormKT580::DockPages() {
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        QWidget* page = FPages[i];
        if (!page)
            continue;
        page->setParent(FPageHost, Qt::Widget);
        page->setWindowTitle(QString::fromLatin1(PageCaptions[i]));
        page->move(0, 0);
        page->hide();
    }
    FFormTrend->setParent(FPageHost, Qt::Widget);
    FFormTrend->move(0, 0);
    FFormTrend->hide();
}

bool TFormKT580::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StatusBar && event->type() == QEvent::Resize)
        StatusBarResize();
    if (watched == ScrollBox1->viewport() && event->type() == QEvent::Resize)
        FitPage();
    return QMainWindow::eventFilter(watched, event);
}

void TFormKT580::StatusBarResize() {
    const int width = StatusBar->width() / 4;
    // Beyond ten lines the rest is in the panel's tooltip; the pages keep most of the window.
    const int most =
        10 * FPanels[1]->fontMetrics().lineSpacing() + 2 * FPanels[1]->frameWidth() + 4;
    const int needed = FPanels[1]->heightForWidth(width);
    // Wrapped lines get some air against the frame; one line keeps the bar's usual height.
    const int height = needed > StatusBarHeight ? std::min(needed + 4, most) : StatusBarHeight;
    if (StatusBar->height() != height)
        StatusBar->setFixedHeight(height);
    for (std::size_t i = 0; i < FPanels.size(); ++i)
        FPanels[i]->setGeometry(static_cast<int>(i) * width, 0, width, height);
    LabelNextStep->setGeometry(width, 0, StatusBar->width() - width, height);
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

void TFormKT580::closeEvent(QCloseEvent* event) {
    if (!FCloseAtOnce && FConnected) {
        if (FCloseAfterWrites) {
            event->ignore();
            return;
        }
        // A settings sequence the operator confirmed goes out whole: closing half way would
        // leave the meter with some blocks new and some old.
        if (!FDisconnectRequested && FFormModbus->FinishWritesThenStop()) {
            FCloseAfterWrites = true;
            // Offline from now on: no new command, and the end of the cycle closes the port.
            FDisconnectRequested = true;
            FFormModbus->UpdateCommandStates();
            UpdateActionStates();
            event->ignore();
            return;
        }
    }
    FFormConnection->SaveSettings();
    event->accept();
}

TPage TFormKT580::ActivePage() const {
    if (!FActivePage)
        return TPage::None;
    if (FActivePage == FPages[0])
        return TPage::RTMetering;
    if (FActivePage == FPages[1])
        return TPage::DeviceInfo;
    if (FActivePage == FPages[2])
        return TPage::GeneralSettings;
    if (FActivePage == FFormTrend)
        return TPage::Trend;
    if (FActivePage == FPages[3])
        return TPage::InstallCheck;
    return TPage::None;
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

void TFormKT580::UpdateActionStates() {
    // Only the connection decides: while a disconnect is still finishing, Connect stays off.
    StartConnect->setEnabled(!FConnected);
    // While closing waits for the writes, a disconnect would drop them.
    StartDisconnect->setEnabled(FConnected && !FCloseAfterWrites);
    StartCommissioningReport->setEnabled(IsOnline());
    if (StartFindMeter != nullptr)
        StartFindMeter->setEnabled(!FConnected);
}

void TFormKT580::SetStatusText(int panel, const QString& text) {
    if (panel < 0 || panel >= static_cast<int>(FPanels.size()))
        return;
    QLabel* label = FPanels[static_cast<std::size_t>(panel)];
    label->setText(text);
    label->setToolTip(text);
    label->setAccessibleDescription(text);
    if (panel == 1)
        StatusBarResize();
}

QString TFormKT580::StatusText(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(FPanels.size()))
        return QString();
    return FPanels[static_cast<std::size_t>(panel)]->text();
}

void TFormKT580::ShowPage(QWidget* page) {
    if (FActivePage) {
        FActivePage->hide();
        SetStatusText(0, QString());
    }
    FActivePage = page;
    if (!page) {
        FPageHost->resize(0, 0);
        return;
    }
    FitPage();
    page->show();
    page->setFocus();
    SetStatusText(0, page->windowTitle() + AddressMark +
                         QString::number(FFormModbus->DeviceAddress()));
}

// The page area scrolls when the page is larger than it. Pages placed by hand keep their own
// size; a page with a layout (the Trend and Installation Check pages) grows with the window
// down to its minimum size, its chart, list or table taking the room.
void TFormKT580::FitPage() {
    if (!FActivePage)
        return;
    if (FActivePage->layout() != nullptr)
        FActivePage->resize(FActivePage->minimumSize().expandedTo(ScrollBox1->viewport()->size()));
    FPageHost->resize(FActivePage->size());
}

void TFormKT580::RefreshStatusAddress() {
    const QString text = StatusText(0);
    const qsizetype mark = text.indexOf(AddressMark);
    if (mark < 0)
        return;
    SetStatusText(0, text.left(mark + AddressMark.size()) +
                         QString::number(FFormModbus->DeviceAddress()));
}

void TFormKT580::StartConnectExecute() {
    TFormModbus& modbus = *FFormModbus;
    if (!modbus.Open()) {
        // The port's own reason stays inside the master: the operator gets the port's name,
        // and what to do where there is something to do (join the port's group, free it).
        QString text =
            QString::fromLatin1(cstMain::CannotOpenPort)
                .replace(QLatin1String("%s"), QStringLiteral("COM%1").arg(modbus.PortNum()));
        const std::string port = "COM" + std::to_string(modbus.PortNum());
        const std::string missing = OpenFailureMissingText(modbus.OpenSystemError(), port);
        const std::string advice =
            OpenFailureAdviceFor(modbus.OpenSystemError(), ResolvePortName(port));
        for (const std::string& more : {missing, advice})
            if (!more.empty())
                text += QStringLiteral("\n\n") + QString::fromStdString(more);
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionError), text, IDialogs::Critical,
                            IDialogs::Ok);
        return;
    }
    // The meter and the adapter settle on the freshly opened line before the first frame.
    if (FConnectWait > 0)
        QThread::msleep(static_cast<unsigned long>(FConnectWait));
    FDisconnectRequested = false;
    SetConnected(true);
    FFormModbus->UpdateCommandStates();
    if (FFormModbus->RequestPageData())
        modbus.Start(true);
}

void TFormKT580::StartDisconnectExecute() {
    FDisconnectRequested = true;
    UpdateActionStates();
    FFormModbus->UpdateCommandStates();
    TFormModbus& modbus = *FFormModbus;
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

void TFormKT580::ReadingsRealTimeMeteringExecute() {
    ShowPage(FPages[0]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsCommunicationExecute() {
    FCommunication->Open();
}

void TFormKT580::ReadingsDeviceInformationExecute() {
    ShowPage(FPages[1]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsTrendExecute() {
    ShowPage(FFormTrend);
    FFormModbus->RequestPageData();
}

void TFormKT580::SettingsGeneralSettingsExecute() {
    ShowPage(FPages[2]);
    // A write from this page is backed up under the meter's serial number.
    if (IsOnline())
        FCommissioning->EnsureSerialNumber();
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsInstallationCheckExecute() {
    ShowPage(FPages[3]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsWriteJournalExecute() {
    FCommissioning->ShowJournal();
}

void TFormKT580::StartCommissioningReportExecute() {
    if (IsOnline())
        FCommissioning->StartReport();
}

void TFormKT580::HelpAboutExecute() {
    TFormAbout about(VersionLookup, this);
    about.exec();
}

void TFormKT580::CloseFromOutside() {
    if (FCloseAfterWrites)
        FCloseAtOnce = true;
    // A modal loop open now would keep running after the window is gone; each is closed as
    // with Cancel, the innermost first.
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            break;
        modal->close();
    }
    // Closing from the event loop, once those loops have returned.
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}
