// The Connection Settings dialog's port list and what the chosen port reaches: the list narrowed
// to the ports that reach a device, the reach of the port chosen, the USB adapters given a
// lasting COM number, and OK's question on a port that reaches nothing.
#pragma once

#include <QObject>

#include <string>

class IDialogs;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QPushButton;
class TDeviceMonitor;
class TFormModbus;

class TPortChooser : public QObject {
public:
    // The controls below the group box go on `dialog`; `ports` is the dialog's port list.
    // `deviceRoot` is the file system where ports are looked up.
    TPortChooser(QDialog& dialog, QComboBox* ports, const TFormModbus& link, IDialogs& dialogs,
                 const std::string& deviceRoot);

    // The COM number of the chosen entry; choosing one that is filtered out brings it back.
    unsigned Selected() const;
    void Select(unsigned number);
    // At each showing: the filter is on whenever there is something to filter for, and the
    // stored port is chosen and stays listed.
    void Show();
    // Locked while connected: the port of a cycle that has not ended must not change under it.
    void SetLocked(bool locked);
    // Ports that appear and vanish while the dialog is open show at once.
    void SetDeviceMonitor(TDeviceMonitor* monitor);
    void Refresh();
    // Gives the adapter of the adapter list's entry `index` its lasting COM number, chooses it.
    void ChooseAdapter(int index);
    // True to go on with OK: a chosen port that reaches no device (nor the simulator) is kept
    // only when the operator says so.
    bool Confirm();

    // Narrows the port list to the ports that reach a device, the stored port and the chosen
    // one; each entry holds its COM number, so the choice never depends on the entry's place.
    QCheckBox* CheckPresentOnly = nullptr;
    QLabel* LabelReachCaption = nullptr;
    QLabel* LabelReach = nullptr;
    QLabel* LabelAdapter = nullptr;
    QComboBox* ComboAdapter = nullptr;
    // Find Meter needs the port, which the connection holds while online.
    QPushButton* ButtonFindMeter = nullptr;

private:
    void Fill();

    QDialog& FDialog;
    QComboBox* FPorts;
    const TFormModbus& FLink;
    IDialogs& FDialogs;
    const std::string& FDeviceRoot;
};
