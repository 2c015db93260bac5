// The Connection Settings dialog: port, baud rate, parity and stop bits, device address and
// scan interval. It holds none of them itself: it shows and sets the master's and the link's
// values, and loads and saves them for the next run.
// Its members are defined by job: frmConnection.cpp (the controls, showing, OK),
// frmConnectionPorts.cpp (the port list, the port's reach, the adapters) and
// frmConnectionFindMeter.cpp.
#pragma once

#include "serial/Comm.h"

#include <QDialog>

#include <cstdint>

#include "scan/ScanRunner.h"

#include <functional>
#include <memory>
#include <optional>
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
    bool ConfirmPort();
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

    // Entries of ComboParity.
    enum { ParityEven, ParityOdd, ParityNone2, ParityNone1 };

    // What the chosen port reaches, USB adapters by their names, and Find Meter.
    QLabel* LabelReachCaption = nullptr;
    QLabel* LabelReach = nullptr;
    QLabel* LabelAdapter = nullptr;
    QComboBox* ComboAdapter = nullptr;
    QPushButton* ButtonFindMeter = nullptr;
    // Narrows ComboPortName to the ports that reach a device, the stored port and the chosen
    // one; each entry holds its COM number, so the choice never depends on the entry's place.
    QCheckBox* CheckPresentOnly = nullptr;
    // The COM number of the chosen entry; choosing one that is filtered out brings it back.
    unsigned SelectedPort() const;
    void SelectPort(unsigned number);

    // Ports that appear and vanish while the dialog is open show at once.
    void SetDeviceMonitor(TDeviceMonitor* monitor);
    void RefreshPortInfo();
    // Gives the adapter of ComboAdapter's entry `index` its lasting COM number and chooses it.
    void ChooseAdapter(int index);
    // Find Meter from this dialog: the meter chosen lands in the controls.
    void ButtonFindMeterClick();
    // Find Meter from the Start menu: the meter chosen opens this dialog with it filled in.
    void FindMeterFromMenu();
    // Puts a meter's port, address, baud rate and parity into the controls.
    void UseMeter(const TMeterFound& meter);
    // Applies a meter's port, address, baud rate and parity as OK would, then asks for the
    // connection through OnConnect.
    void ConnectToMeter(const TMeterFound& meter);
    // Asked to connect with the values applied: the main window's Connect.
    std::function<void()> OnConnect;
    TFormFindMeter& FindMeter();
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
    void ShowPendingMeter();
    void FillPorts();
    // The whole text as a decimal integer, or nothing.
    static std::optional<int> IntegerOf(const QString& text);

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
    TDeviceMonitor* FMonitor = nullptr;
    TFormFindMeter* FFindMeter = nullptr;
    std::optional<TMeterFound> FPendingMeter;
};
