#include "shell/MainActions.h"

#include "shell/ShellIcons.h"
#include "shell/frmMain.h"

#include <QAction>
#include <QMenuBar>
#include <QToolBar>

TMainActions::TMainActions(TFormKT580& window) : FWindow(window) {
    CreateActions();
    CreateCommissioningActions();
    CreateMenu();
    CreateToolBar();
}

void TMainActions::AddFindMeter() {
    StartFindMeter = new QAction(QStringLiteral("&Find Meter..."), &FWindow);
    StartFindMeter->setToolTip(QStringLiteral("Find the meter on a port"));
    StartFindMeter->setProperty("category", QStringLiteral("Start"));
    TFormKT580* window = &FWindow;
    QObject::connect(StartFindMeter, &QAction::triggered, window,
                     [window] { window->StartFindMeterExecute(); });
    // In the Start menu, just above Connection Settings.
    if (QMenu* start = FWindow.menuBar()->actions().value(0)->menu())
        start->insertAction(StartConnectionSettings, StartFindMeter);
}

void TMainActions::CreateActions() {
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
    TFormKT580* window = &FWindow;
    for (const TActionRow& row : rows) {
        auto* action = new QAction(ActionIcon(row.Image), QString::fromLatin1(row.Caption), window);
        action->setToolTip(QString::fromLatin1(row.Hint));
        action->setProperty("category", QString::fromLatin1(row.Category));
        action->setIconVisibleInMenu(true);
        const auto execute = row.Execute;
        QObject::connect(action, &QAction::triggered, window,
                         [window, execute] { (window->*execute)(); });
        *row.Target = action;
    }
}

void TMainActions::CreateCommissioningActions() {
    TFormKT580* window = &FWindow;
    const auto add = [window](const char* caption, const char* hint,
                              void (TFormKT580::*execute)()) {
        auto* action = new QAction(QString::fromLatin1(caption), window);
        action->setToolTip(QString::fromLatin1(hint));
        QObject::connect(action, &QAction::triggered, window,
                         [window, execute] { (window->*execute)(); });
        return action;
    };
    ReadingsInstallationCheck = add("Installation &Check", "Installation Check",
                                    &TFormKT580::ReadingsInstallationCheckExecute);
    ReadingsWriteJournal =
        add("Write &Journal", "Write Journal", &TFormKT580::ReadingsWriteJournalExecute);
    StartCommissioningReport = add("Commissioning &Report...", "Commissioning Report",
                                   &TFormKT580::StartCommissioningReportExecute);
}

void TMainActions::CreateMenu() {
    QMenuBar* bar = FWindow.menuBar();
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
    TFormKT580* window = &FWindow;
    ReadingsCommunication = readings->addAction(QStringLiteral("C&ommunication"), window, [window] {
        window->ReadingsCommunicationExecute();
    });
    ReadingsCommunication->setToolTip(QStringLiteral("Communication statistics and frame log"));
    ReadingsBus = readings->addAction(QStringLiteral("&Bus"), window,
                                      [window] { window->ReadingsBusExecute(); });
    ReadingsBus->setToolTip(QStringLiteral("The meters on the line, their counters and the load"));
    readings->addAction(ReadingsWriteJournal);
    bar->addMenu(QStringLiteral("Se&ttings"))->addAction(SettingsGeneralSettings);
    bar->addMenu(QStringLiteral("&Help"))->addAction(HelpAbout);
}

void TMainActions::CreateToolBar() {
    ToolBar1 = new QToolBar(QStringLiteral("ToolBar1"), &FWindow);
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
    FWindow.addToolBar(Qt::TopToolBarArea, ToolBar1);
}

void TMainActions::UpdateStates(bool connected, bool closingAfterWrites, bool online) {
    // Only the connection decides: while a disconnect is still finishing, Connect stays off.
    StartConnect->setEnabled(!connected);
    // While closing waits for the writes, a disconnect would drop them.
    StartDisconnect->setEnabled(connected && !closingAfterWrites);
    StartCommissioningReport->setEnabled(online);
    if (StartFindMeter != nullptr)
        StartFindMeter->setEnabled(!connected);
}

QString TMainActions::NextStepText() const {
    const auto caption = [](const QAction* action) {
        QString text = action->text();
        text.remove(QLatin1Char('&'));
        if (text.endsWith(QLatin1String("...")))
            text.chop(3);
        return text;
    };
    const QString start = caption(FWindow.menuBar()->actions().value(0));
    return QStringLiteral("Not connected. Choose %1 > %2 to pick the meter's port, or %1 > %3.")
        .arg(start, caption(StartConnectionSettings), caption(StartFindMeter));
}
