// The Find Meter dialog: scans one port over the line settings the Connection Settings dialog
// offers and device addresses 1-247 for KT580 meters, shows progress and what the line showed,
// lists the meters found, and hands one back with Use.
#pragma once

#include "scan/MeterScanner.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class TDeviceMonitor;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

class TFormFindMeter : public QDialog {
public:
    explicit TFormFindMeter(QWidget* parent = nullptr);
    ~TFormFindMeter() override;

    // The connection values to start from: the port chosen, the line setting and address the
    // scan tries first. Clears the last result.
    void Prepare(int portNum, const TScanSetting& setting, std::uint8_t address);
    // The meter chosen with Use (or Use and Connect, or a double-click on it).
    const std::optional<TMeterFound>& Chosen() const { return FChosen; }
    // The meter was chosen to connect to at once: Use and Connect, or a double-click.
    bool ConnectAsked() const { return FConnectAsked; }
    // Ports that appear and vanish are marked in the port list as it happens.
    void SetDeviceMonitor(TDeviceMonitor* monitor);
    // How the scan reaches a port; tests put a scripted device here.
    void SetDeviceFactory(TMeterScanner::TDeviceFactory factory);
    // How long a probe waits for a meter to begin answering.
    void SetTurnaround(double seconds) { FTurnaround = seconds; }
    // Called once the window shows the end of a scan: its last progress, every meter found,
    // and why it ended.
    std::function<void()> OnScanFinished;

    void ButtonStartClick();
    void ButtonCancelClick();
    void ButtonUseClick();
    void ButtonUseConnectClick();
    // From Start until the window has shown the end of the scan.
    bool Scanning() const { return FScanShown; }

    QComboBox* ComboPort;
    QRadioButton* RadioFirst;
    QRadioButton* RadioEvery;
    QPushButton* ButtonStart;
    QPushButton* ButtonCancel;
    QProgressBar* ProgressScan;
    QLabel* LabelTrying;
    QLabel* LabelRemaining;
    QLabel* LabelNotes;
    QTreeWidget* ListFound;
    QPushButton* ButtonUse;
    QPushButton* ButtonUseConnect;
    QPushButton* ButtonClose;

protected:
    void reject() override;

private:
    void BuildControls();
    void BuildSearchGroup();
    void BuildProgress();
    void BuildFoundList();
    void RefreshStatus();
    void ShowEnd(const TScanStatus& status);
    void RefreshPorts();
    void UpdateButtons();
    void UseCurrent(bool connect);

    std::unique_ptr<TMeterScanner> FScanner;
    TMeterScanner::TDeviceFactory FFactory;
    QTimer* FPoll;
    TScanSetting FSetting;
    std::uint8_t FAddress = 1;
    double FTurnaround = TScanPlan::DialogTurnaround;
    bool FScanShown = false;
    std::optional<TMeterFound> FChosen;
    bool FConnectAsked = false;
    std::vector<TMeterFound> FShown;
};
