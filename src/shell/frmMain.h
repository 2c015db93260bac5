// The main window: menu, tool bar, the page area with the three pages, the four-panel status
// bar, connect and disconnect. It owns the meter link, the connection dialog and the pages, and
// is the link's view of the shell (the connection state is the link's).
// It composes the actions with the menu and tool bar (TMainActions), the page area (TPageArea),
// the status bar (TStatusPanels) and the close protocol (TCloseProtocol).
#pragma once

#include "link/LinkViews.h"
#include "shell/CloseProtocol.h"
#include "shell/MainActions.h"
#include "shell/PageArea.h"
#include "shell/StatusPanels.h"
#include "shell/VersionRecord.h"

#include <QMainWindow>

#include <memory>

class IDialogs;
class TCommissioning;
class TCommunicationHost;
class TDeviceMonitor;
class TFormConnection;
class TFormModbus;
class TFormBus;
class TFormTrend;
class ITrendDialogs;
class QLabel;
class QScrollArea;
class QTimer;

class TFormKT580 : public QMainWindow, public ILinkShell {
public:
    explicit TFormKT580(IDialogs& dialogs, QWidget* parent = nullptr);
    ~TFormKT580() override;

    // ILinkShell
    TPage ActivePage() const override { return FPageArea->ActivePage(); }
    void ConnectionChanged(TConnectionState state) override;
    void RefreshStatusAddress() override;
    void SetStatusText(int panel, const QString& text) override { FStatus->SetText(panel, text); }

    // Shows one page (or none) in the page area and names it with the address in panel 0.
    void ShowPage(QWidget* page);
    QWidget* ActivePageWidget() const { return FPageArea->Active(); }
    QString StatusText(int panel) const { return FStatus->Text(panel); }

    void StartConnectExecute();
    void StartDisconnectExecute();
    void StartConnectionSettingsExecute();
    void StartExitExecute();
    void ReadingsRealTimeMeteringExecute() { OpenPage(FPageArea->Page(0)); }
    void ReadingsDeviceInformationExecute() { OpenPage(FPageArea->Page(1)); }
    void ReadingsTrendExecute() { OpenPage(FPageArea->Trend()); }
    void SettingsGeneralSettingsExecute();
    void HelpAboutExecute();
    void ReadingsInstallationCheckExecute() { OpenPage(FPageArea->Page(3)); }
    void ReadingsWriteJournalExecute();
    void StartCommissioningReportExecute();
    // Opens the Communication window (also a double-click on the statistics panel does).
    void ReadingsCommunicationExecute();
    // Opens the Bus window: the meters on the shared line.
    void ReadingsBusExecute();
    // The Bus window, once opened.
    TFormBus* BusWindow() const { return FBusWindow; }

    // Ends the program as closing the window does, also with a dialog or box open: they are
    // closed without applying anything, then the window closes and the values are saved. A
    // second call while confirmed writes are still going out closes at once.
    void CloseFromOutside() { FClose.FromOutside(); }
    // Closing waits for the writes of a confirmed command still going out.
    bool ClosingAfterWrites() const { return FClose.AfterWrites(); }

    TFormModbus& FormModbus() { return *FFormModbus; }
    TFormConnection& FormConnection() { return *FFormConnection; }
    TCommunicationHost& Communication() { return *FCommunication; }
    QWidget* FormRTMetering() const { return FPageArea->Page(0); }
    QWidget* FormDeviceInfo() const { return FPageArea->Page(1); }
    QWidget* FormGeneralSettings() const { return FPageArea->Page(2); }
    TFormTrend* FormTrend() const { return FFormTrend; }
    QWidget* FormInstallCheck() const { return FPageArea->Page(3); }
    TCommissioning& Commissioning() { return *FCommissioning; }

    // How long Connect blocks after opening the port, so the meter's line settles before the
    // first frame; tests shorten it.
    int ConnectWait() const { return FConnectWait; }
    void SetConnectWait(int ms) { FConnectWait = ms; }
    // The version record the About box shows; tests replace it.
    TVersionLookup VersionLookup = ProgramVersionValue;

    // The actions are TMainActions'; these reach them.
    QAction* StartConnect() const { return FActions->StartConnect; }
    QAction* StartDisconnect() const { return FActions->StartDisconnect; }
    QAction* StartConnectionSettings() const { return FActions->StartConnectionSettings; }
    QAction* StartExit() const { return FActions->StartExit; }
    QAction* ReadingsRealTimeMetering() const { return FActions->ReadingsRealTimeMetering; }
    QAction* ReadingsDeviceInformation() const { return FActions->ReadingsDeviceInformation; }
    QAction* ReadingsTrend() const { return FActions->ReadingsTrend; }
    QAction* SettingsGeneralSettings() const { return FActions->SettingsGeneralSettings; }
    QAction* HelpAbout() const { return FActions->HelpAbout; }
    QAction* ReadingsInstallationCheck() const { return FActions->ReadingsInstallationCheck; }
    QAction* ReadingsWriteJournal() const { return FActions->ReadingsWriteJournal; }
    QAction* StartCommissioningReport() const { return FActions->StartCommissioningReport; }
    QAction* StartFindMeter() const { return FActions->StartFindMeter; }
    QAction* ReadingsCommunication() const { return FActions->ReadingsCommunication; }
    // Serial devices plugged in and pulled out; tests replace the udev one with their own.
    TDeviceMonitor& DeviceMonitor() { return *FDeviceMonitor; }
    void StartFindMeterExecute();
    QToolBar* ToolBar1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QWidget* StatusBar = nullptr;
    // What to do next, across the status panels of the line while offline: shown when the
    // start-up Connection Settings dialog was cancelled, gone once connected.
    QLabel* LabelNextStep = nullptr;
    QTimer* TimerShowDialog = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void TimerShowDialogTimer();
    void UpdateActionStates();
    // Shows the page and asks the link for its data.
    void OpenPage(QWidget* page);

    IDialogs& FDialogs;
    TCloseProtocol FClose;
    std::unique_ptr<TFormModbus> FFormModbus;
    std::unique_ptr<TFormConnection> FFormConnection;
    std::unique_ptr<TCommissioning> FCommissioning;
    std::unique_ptr<TCommunicationHost> FCommunication;
    TFormBus* FBusWindow = nullptr;
    std::unique_ptr<ITrendDialogs> FTrendDialogs;
    TFormTrend* FFormTrend = nullptr;
    std::unique_ptr<TDeviceMonitor> FDeviceMonitor;
    std::unique_ptr<TMainActions> FActions;
    std::unique_ptr<TPageArea> FPageArea;
    std::unique_ptr<TStatusPanels> FStatus;
    bool FShown = false;
    int FConnectWait = 1000;
};
