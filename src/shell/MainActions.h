// The main window's actions, its menu and tool bar, and which actions are enabled. The actions
// are children of the window and call its commands.
#pragma once

#include <QString>

class QAction;
class QToolBar;
class TFormKT580;

class TMainActions {
public:
    explicit TMainActions(TFormKT580& window);

    // Find Meter comes once the window has its device monitor, above Connection Settings.
    void AddFindMeter();
    // Connect only while offline; Disconnect while connected unless closing waits for the
    // writes; the commissioning report while online.
    void UpdateStates(bool connected, bool closingAfterWrites, bool online);
    // What to do next while offline, named by the menu captions as the operator sees them.
    QString NextStepText() const;

    QAction* StartConnect = nullptr;
    QAction* StartDisconnect = nullptr;
    QAction* StartConnectionSettings = nullptr;
    QAction* StartExit = nullptr;
    QAction* ReadingsRealTimeMetering = nullptr;
    QAction* ReadingsDeviceInformation = nullptr;
    QAction* ReadingsTrend = nullptr;
    QAction* SettingsGeneralSettings = nullptr;
    QAction* HelpAbout = nullptr;
    QAction* ReadingsInstallationCheck = nullptr;
    QAction* ReadingsWriteJournal = nullptr;
    QAction* StartCommissioningReport = nullptr;
    QAction* StartFindMeter = nullptr;
    QAction* ReadingsCommunication = nullptr;
    QAction* ReadingsBus = nullptr;
    QToolBar* ToolBar1 = nullptr;

private:
    void CreateActions();
    void CreateCommissioningActions();
    void CreateMenu();
    void CreateToolBar();

    TFormKT580& FWindow;
};
