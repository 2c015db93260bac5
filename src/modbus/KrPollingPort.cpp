// The transport under the polling master: opening, closing and reopening it; the serial line's
// settings.
#include "modbus/KrPollingPort.h"

#include "platform/PortName.h"

namespace {

const std::string ComPrefix = "\\\\.\\COM";

} // namespace

TKrPollingPort::TKrPollingPort() = default;

bool TKrPollingPort::TryOpen() {
    FOpenErrorText.clear();
    FOpenSystemError = 0;
    try {
        FTransport->Open();
        return true;
    } catch (const ECommsError& e) {
        FOpenErrorText = e.what();
        FOpenSystemError = e.SystemError();
    } catch (const std::exception& e) {
        FOpenErrorText = e.what();
    }
    return false;
}

bool TKrPollingPort::Open() {
    if (!FOpened)
        FOpened = TryOpen();
    return FOpened;
}

void TKrPollingPort::Close() {
    if (FOpened) {
        FTransport->Close();
        FOpened = false;
    }
}

bool TKrPollingPort::Reopen() {
    if (!FOpened) {
        return false;
    }
    FTransport->Close();
    // Gives the device (a USB adapter, a converter) time to settle before it is opened again.
    FClock->Sleep(FReopenWait);
    TryOpen();
    // Opened must tell the truth: after a failed reopen the port is closed.
    FOpened = FTransport->IsOpen();
    return FOpened;
}

std::uint16_t TKrPollingPort::PortNum() const {
    return static_cast<std::uint16_t>(ComPortNumber(Comm().CommName()).value_or(0));
}

void TKrPollingPort::SetPortNum(std::uint16_t value) {
    const std::string name = ComPrefix + std::to_string(value);
    if (name != Comm().CommName()) {
        Close();
        Comm().SetCommName(name);
    }
}

int TKrPollingPort::Baudrate() const {
    return static_cast<int>(Comm().BaudRate());
}

void TKrPollingPort::SetBaudrate(int value) {
    Comm().SetBaudRate(static_cast<std::uint32_t>(value));
}

std::uint16_t TKrPollingPort::DataBits() const {
    switch (Comm().ByteSize()) {
    case TByteSize::_5:
        return 5;
    case TByteSize::_6:
        return 6;
    case TByteSize::_7:
        return 7;
    case TByteSize::_8:
        return 8;
    }
    return 0;
}

void TKrPollingPort::SetDataBits(std::uint16_t value) {
    switch (value) {
    case 5:
        Comm().SetByteSize(TByteSize::_5);
        break;
    case 6:
        Comm().SetByteSize(TByteSize::_6);
        break;
    case 7:
        Comm().SetByteSize(TByteSize::_7);
        break;
    default:
        Comm().SetByteSize(TByteSize::_8);
        break;
    }
}

bool TKrPollingPort::RtsCtsFlow() const {
    return Comm().RtsControl() == TRtsControl::RtsHandshake;
}

void TKrPollingPort::SetRtsCtsFlow(bool value) {
    if (Comm().RtsControl() != TRtsControl::RtsHandshake) {
        FSavedRtsControl = Comm().RtsControl();
    }
    if (value) {
        Comm().SetRtsControl(TRtsControl::RtsHandshake);
        Comm().SetOutx_CtsFlow(true);
    } else {
        Comm().SetRtsControl(FSavedRtsControl);
        Comm().SetOutx_CtsFlow(false);
    }
}
