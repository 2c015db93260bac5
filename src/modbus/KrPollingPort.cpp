// The port under the polling master: opening, closing and reopening it, and its line settings.
#include "modbus/KrPollingPort.h"

#include "platform/PortName.h"

namespace {

const std::string ComPrefix = "\\\\.\\COM";

} // namespace

TKrPollingPort::TKrPollingPort() {
    // The master sends binary frames: software flow control would swallow 0x11 and 0x13.
    FComm.SetTxContinueOnXoff(false);
    FComm.SetInx_XonXoffFlow(false);
    FComm.SetOutx_XonXoffFlow(false);
    // A 5 ms silence closes a received chunk: long enough to keep one burst together, short
    // enough that a response is seen within a few milliseconds of its last byte.
    FComm.SetReadIntervalTimeout(5);
}

bool TKrPollingPort::TryOpen() {
    FOpenErrorText.clear();
    FOpenSystemError = 0;
    try {
        FComm.OpenPort();
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
        FComm.ClosePort();
        FOpened = false;
    }
}

bool TKrPollingPort::Reopen() {
    if (!FOpened) {
        return false;
    }
    FComm.ClosePort();
    // Gives the device (a USB adapter, a converter) time to settle before it is opened again.
    FClock->Sleep(FReopenWait);
    TryOpen();
    // Opened must tell the truth: after a failed reopen the port is closed.
    FOpened = FComm.IsOpen();
    return FOpened;
}

std::uint16_t TKrPollingPort::PortNum() const {
    return static_cast<std::uint16_t>(ComPortNumber(FComm.CommName()).value_or(0));
}

void TKrPollingPort::SetPortNum(std::uint16_t value) {
    const std::string name = ComPrefix + std::to_string(value);
    if (name != FComm.CommName()) {
        Close();
        FComm.SetCommName(name);
    }
}

int TKrPollingPort::Baudrate() const {
    return static_cast<int>(FComm.BaudRate());
}

void TKrPollingPort::SetBaudrate(int value) {
    FComm.SetBaudRate(static_cast<std::uint32_t>(value));
}

std::uint16_t TKrPollingPort::DataBits() const {
    switch (FComm.ByteSize()) {
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
        FComm.SetByteSize(TByteSize::_5);
        break;
    case 6:
        FComm.SetByteSize(TByteSize::_6);
        break;
    case 7:
        FComm.SetByteSize(TByteSize::_7);
        break;
    default:
        FComm.SetByteSize(TByteSize::_8);
        break;
    }
}

bool TKrPollingPort::RtsCtsFlow() const {
    return FComm.RtsControl() == TRtsControl::RtsHandshake;
}

void TKrPollingPort::SetRtsCtsFlow(bool value) {
    if (FComm.RtsControl() != TRtsControl::RtsHandshake) {
        FSavedRtsControl = FComm.RtsControl();
    }
    if (value) {
        FComm.SetRtsControl(TRtsControl::RtsHandshake);
        FComm.SetOutx_CtsFlow(true);
    } else {
        FComm.SetRtsControl(FSavedRtsControl);
        FComm.SetOutx_CtsFlow(false);
    }
}
