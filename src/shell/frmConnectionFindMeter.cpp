// Find Meter from the Connection Settings dialog and from the Start menu: the meter found lands
// in the dialog's controls, or is connected to at once.
#include "shell/frmConnection.h"

#include "link/frmModbus.h"
#include "platform/PortName.h"
#include "shell/frmFindMeter.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

TFormFindMeter& TFormConnection::FindMeter() {
    if (FFindMeter == nullptr) {
        FFindMeter = new TFormFindMeter(this);
        FFindMeter->SetDeviceMonitor(FMonitor);
    }
    return *FFindMeter;
}

void TFormConnection::ButtonFindMeterClick() {
    TScanSetting setting{ComboBaudrate->currentText().toUInt(),
                         std::max(ComboParity->currentIndex(), 0)};
    const int address = IntegerOf(EditDevAddr->text()).value_or(1);
    FindMeter().Prepare(
        static_cast<int>(SelectedPort()), setting,
        static_cast<std::uint8_t>(std::clamp(address, MinMeterAddress, MaxMeterAddress)));
    if (FindMeter().exec() != QDialog::Accepted || !FindMeter().Chosen())
        return;
    UseMeter(*FindMeter().Chosen());
    if (FindMeter().ConnectAsked()) {
        ButtonOkClick();
        accept();
        if (OnConnect)
            OnConnect();
    }
}

void TFormConnection::FindMeterFromMenu() {
    const TFormModbus& modbus = FLink;
    int parity = ParityEven;
    if (modbus.Parity() == TParity::None)
        parity = modbus.StopBits() == TStopBits::_2 ? ParityNone2 : ParityNone1;
    else if (modbus.Parity() == TParity::Odd)
        parity = ParityOdd;
    FindMeter().Prepare(modbus.PortNum(), {static_cast<std::uint32_t>(modbus.Baudrate()), parity},
                        static_cast<std::uint8_t>(std::clamp<int>(
                            FLink.DeviceAddress(), MinMeterAddress, MaxMeterAddress)));
    if (FindMeter().exec() != QDialog::Accepted || !FindMeter().Chosen())
        return;
    if (FindMeter().ConnectAsked()) {
        ConnectToMeter(*FindMeter().Chosen());
        return;
    }
    FPendingMeter = FindMeter().Chosen();
    exec();
}

void TFormConnection::ConnectToMeter(const TMeterFound& meter) {
    FormShow();
    UseMeter(meter);
    ButtonOkClick();
    if (OnConnect)
        OnConnect();
}

void TFormConnection::ShowPendingMeter() {
    RefreshPortInfo();
    if (FPendingMeter) {
        UseMeter(*FPendingMeter);
        FPendingMeter.reset();
    }
}

void TFormConnection::UseMeter(const TMeterFound& meter) {
    const auto number = ComPortNumber(meter.Port.toStdString());
    if (number && ComboPortName->isEnabled())
        SelectPort(*number);
    ComboBaudrate->setCurrentIndex(
        std::max(ComboBaudrate->findText(QString::number(meter.Setting.Baud)), 0));
    ComboParity->setCurrentIndex(meter.Setting.Parity);
    EditDevAddr->setText(QString::number(meter.Address));
}
