// The main window's commands that show a page or open a window, and what the status bar says
// about the page shown.
#include "shell/frmMain.h"

#include "commissioning/Commissioning.h"
#include "comms/CommunicationHost.h"
#include "link/frmModbus.h"
#include "shell/StatusPanels.h"
#include "shell/frmAbout.h"
#include "trend/frmTrend.h"

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

void TFormKT580::SetStatusText(int panel, const QString& text) {
    FStatus->SetText(panel, text);
}

QString TFormKT580::StatusText(int panel) const {
    return FStatus->Text(panel);
}

void TFormKT580::OpenPage(QWidget* page) {
    ShowPage(page);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsRealTimeMeteringExecute() {
    OpenPage(FormRTMetering());
}

void TFormKT580::ReadingsDeviceInformationExecute() {
    OpenPage(FormDeviceInfo());
}

void TFormKT580::ReadingsTrendExecute() {
    OpenPage(FFormTrend);
}

void TFormKT580::SettingsGeneralSettingsExecute() {
    ShowPage(FormGeneralSettings());
    // A write from this page is backed up under the meter's serial number.
    if (IsOnline())
        FCommissioning->EnsureSerialNumber();
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsInstallationCheckExecute() {
    OpenPage(FormInstallCheck());
}

void TFormKT580::ReadingsCommunicationExecute() {
    FCommunication->Open();
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
