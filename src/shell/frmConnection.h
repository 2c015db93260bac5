// The Connection Settings dialog: port, baud rate, parity and stop bits, device address and
// scan interval. It holds none of them itself: it shows and sets the master's and the link's
// values, and loads and saves them for the next run.
// It composes the port list with what the chosen port reaches (TPortChooser) and the Find Meter
// hand-over (TMeterHandOver).
#pragma once

#include "serial/Comm.h"
#include "shell/MeterHandOver.h"
#include "shell/PortChooser.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class ILinkShell;
class TDeviceMonitor;
class TFormFindMeter;
class IDialogs;
class TFormModbus;
class TUpDown;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TFormConnection : public QDialog {
public:
    // Loads the stored values into the link and its master, so it must be created after the
    // link and before anything reads them.
    TFormConnection(TFormModbus& link, ILinkShell& shell, IDialogs& dialogs,
                    QWidget* parent = nullptr);

    // Copies the current values into the controls; runs at every showing.
    void FormShow();
    // Validates and applies; the dialog has already closed itself when a box comes up.
    void ButtonOkClick();
    // OK's question before the dialog closes: a chosen port that reaches no device (nor the
    // simulator) is kept only when the operator says so. True to go on.
    bool ConfirmPort() { return FPorts->Confirm(); }
    // The values for the next run, when the main window closes.
    void SaveSettings() const;

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QComboBox* ComboPortName;
    QLabel* Label2;
    QComboBox* ComboBaudrate;
    QLabel* Label3;
    QComboBox* ComboParity;
    QLabel* Label7;
    QLineEdit* EditDevAddr;
    TUpDown* UpDownAddr;
    QLabel* Label4;
    QLineEdit* EditQueryInterval;
    QLabel* Label5;
    QPushButton* ButtonOk;
    QPushButton* ButtonCancel;

    // What the chosen port reaches, USB adapters by their names, and Find Meter: TPortChooser's.
    QLabel* LabelReachCaption = nullptr;
    QLabel* LabelReach = nullptr;
    QLabel* LabelAdapter = nullptr;
    QComboBox* ComboAdapter = nullptr;
    QPushButton* ButtonFindMeter = nullptr;
    QCheckBox* CheckPresentOnly = nullptr;
    unsigned SelectedPort() const { return FPorts->Selected(); }
    void SelectPort(unsigned number) { FPorts->Select(number); }
    void SetDeviceMonitor(TDeviceMonitor* monitor);
    void RefreshPortInfo() { FPorts->Refresh(); }
    void ChooseAdapter(int index) { FPorts->ChooseAdapter(index); }

    // Find Meter from this dialog, or from the Start menu: TMeterHandOver's.
    void ButtonFindMeterClick() { FHandOver.FromDialog(); }
    void FindMeterFromMenu() { FHandOver.FromMenu(); }
    void UseMeter(const TMeterFound& meter) { FHandOver.Use(meter); }
    void ConnectToMeter(const TMeterFound& meter) { FHandOver.ConnectTo(meter); }
    TFormFindMeter& FindMeter() { return FHandOver.FindMeter(); }
    // Asked to connect with the values applied: the main window's Connect.
    std::function<void()> OnConnect;
    // The file system where ports are looked up; tests point it at a fake /dev and /sys.
    std::string DeviceRoot;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void BuildControls();
    void ConnectButtons();
    void NameControls();
    void BuildPortInfoControls();

    // What the dialog showed and the values it showed them from. While it is open a settings
    // write that the meter confirms may change the address and the line; a field the operator
    // left as shown must not put the value from before back.
    struct TShown {
        int BaudEntry = -1;
        int ParityEntry = -1;
        QString AddressText;
        int Baudrate = 0;
        TParity Parity = TParity::None;
        TStopBits StopBits = TStopBits::_1;
        std::uint8_t DeviceAddress = 0;
    };
    TShown FShown;

    TFormModbus& FLink;
    ILinkShell& FShell;
    IDialogs& FDialogs;
    std::unique_ptr<TPortChooser> FPorts;
    TMeterHandOver FHandOver{*this, FLink};
};
