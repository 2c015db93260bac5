#include "shell/MeterHandOver.h"

#include "link/frmModbus.h"
#include "platform/PortName.h"
#include "shell/ConnectionFields.h"
#include "shell/frmConnection.h"
#include "shell/frmFindMeter.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

TFormFindMeter& TMeterHandOver::FindMeter() {
    if (FFindMeter == nullptr) {
        FFindMeter = new TFormFindMeter(&FDialog);
        FFindMeter->SetDeviceMonitor(FMonitor);
    }
    return *FFindMeter;
}

void TMeterHandOver::SetDeviceMonitor(TDeviceMonitor* monitor) {
    FMonitor = monitor;
    if (FFindMeter != nullptr)
        FFindMeter->SetDeviceMonitor(monitor);
}

std::optional<TMeterFound> TMeterHandOver::Search(int port, const TScanSetting& setting,
                                                  int address) {
    FindMeter().Prepare(
        port, setting,
        static_cast<std::uint8_t>(std::clamp(address, MinMeterAddress, MaxMeterAddress)));
    if (FindMeter().exec() != QDialog::Accepted)
        return std::nullopt;
    return FindMeter().Chosen();
}

void TMeterHandOver::FromDialog() {
    TScanSetting setting{FDialog.ComboBaudrate->currentText().toUInt(),
                         std::max(FDialog.ComboParity->currentIndex(), 0)};
    const auto meter = Search(static_cast<int>(FDialog.SelectedPort()), setting,
                              IntegerOf(FDialog.EditDevAddr->text()).value_or(1));
    if (!meter)
        return;
    Use(*meter);
    if (FindMeter().ConnectAsked()) {
        FDialog.ButtonOkClick();
        FDialog.accept();
        if (FDialog.OnConnect)
            FDialog.OnConnect();
    }
}

void TMeterHandOver::FromMenu() {
    int parity = ParityEven;
    if (FLink.Parity() == TParity::None)
        parity = FLink.StopBits() == TStopBits::_2 ? ParityNone2 : ParityNone1;
    else if (FLink.Parity() == TParity::Odd)
        parity = ParityOdd;
    const auto meter =
        Search(FLink.PortNum(), {static_cast<std::uint32_t>(FLink.Baudrate()), parity},
               FLink.DeviceAddress());
    if (!meter)
        return;
    if (FindMeter().ConnectAsked()) {
        ConnectTo(*meter);
        return;
    }
    FPending = meter;
    FDialog.exec();
}

void TMeterHandOver::ConnectTo(const TMeterFound& meter) {
    FDialog.FormShow();
    Use(meter);
    FDialog.ButtonOkClick();
    if (FDialog.OnConnect)
        FDialog.OnConnect();
}

void TMeterHandOver::UsePending() {
    if (FPending) {
        Use(*FPending);
        FPending.reset();
    }
}

void TMeterHandOver::Use(const TMeterFound& meter) {
    const auto number = ComPortNumber(meter.Port.toStdString());
    if (number && FDialog.ComboPortName->isEnabled())
        FDialog.SelectPort(*number);
    FDialog.ComboBaudrate->setCurrentIndex(
        std::max(FDialog.ComboBaudrate->findText(QString::number(meter.Setting.Baud)), 0));
    FDialog.ComboParity->setCurrentIndex(meter.Setting.Parity);
    FDialog.EditDevAddr->setText(QString::number(meter.Address));
}
