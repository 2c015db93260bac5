#include "serial/Comm.h"

#include "platform/PortName.h"
#include "platform/PosixSerialDevice.h"
#include "serial/NotifyQueue.h"
#include "serial/OpenPort.h"

TComm::TComm()
    : FNotifyWindow(std::make_unique<TNotifyQueue>(
          [this](const TNotice& n) { Dispatch(n.Code, n.Param, n.Data); })) {}

TComm::~TComm() {
    // Threads left running would outlive the device and the queue they write to.
    ClosePort();
}

bool TComm::IsOpen() const {
    return FPort != nullptr;
}

void TComm::SetDeviceFactory(TDeviceFactory factory) {
    FDeviceFactory = std::move(factory);
}

void TComm::OpenPort() {
    if (FPort) {
        throw ECommsError("This serial port already opened");
    }
    FPort = std::make_unique<TOpenPort>(OpenDevice(), FLine, FTimeouts, *FNotifyWindow, FSendIdle);
}

std::unique_ptr<TSerialDevice> TComm::OpenDevice() const {
    std::unique_ptr<TSerialDevice> device =
        FDeviceFactory ? FDeviceFactory() : std::make_unique<TPosixSerialDevice>();
    if (!device) {
        throw ECommsError("Error opening serial port");
    }
    const TOpenResult opened = device->Open(ResolvePortName(FCommName));
    switch (opened.Status) {
    case TOpenStatus::Ok:
        break;
    case TOpenStatus::OpenFailed:
        throw ECommsError("Error opening serial port", opened.Error);
    case TOpenStatus::NotComm:
        throw ECommsError("File handle is not a comm handle ", opened.Error);
    case TOpenStatus::SetupFailed:
        throw ECommsError("Cannot setup comm buffer", opened.Error);
    }
    return device;
}

void TComm::ClosePort() {
    FPort.reset();
}

bool TComm::WriteData(const char* Buffer, std::uint16_t Length) {
    return FPort && FPort->Write(Buffer, Length);
}

void TComm::Dispatch(int code, std::uint32_t param, const std::string& data) {
    // Handlers are called through copies: one may rebind its own event while it runs.
    switch (code) {
    case NotifyReceiveData:
        if (auto handler = OnReceiveData) {
            handler(*this, data.c_str(), static_cast<std::uint16_t>(param));
        }
        break;
    case NotifyReceiveError:
        if (auto handler = OnReceiveError) {
            handler(*this, param);
        }
        break;
    case NotifyRequestHangup:
        if (auto handler = OnRequestHangup) {
            handler(*this);
        }
        break;
    case NotifyModemStateChange:
        if (auto handler = OnModemStateChange) {
            handler(*this, param);
        }
        break;
    case NotifySendDataEmpty:
        if (auto handler = OnSendDataEmpty) {
            handler(*this);
        }
        break;
    default:
        break;
    }
}

template <typename T, typename V> void TComm::SetLineField(T TLineSettings::*field, V value) {
    if (FLine.*field == value) {
        return;
    }
    FLine.*field = value;
    if (FPort) {
        FPort->ApplyLineSettings(FLine);
    }
}

template <typename V> void TComm::SetTimeoutField(std::uint32_t TCommTimeouts::*field, V value) {
    if (FTimeouts.*field == value) {
        return;
    }
    FTimeouts.*field = value;
    if (FPort) {
        FPort->ApplyTimeouts(FTimeouts);
    }
}

void TComm::SetBaudRate(std::uint32_t v) {
    SetLineField(&TLineSettings::BaudRate, v);
}
void TComm::SetParityCheck(bool v) {
    SetLineField(&TLineSettings::ParityCheck, v);
}
void TComm::SetOutx_CtsFlow(bool v) {
    SetLineField(&TLineSettings::Outx_CtsFlow, v);
}
void TComm::SetOutx_DsrFlow(bool v) {
    SetLineField(&TLineSettings::Outx_DsrFlow, v);
}
void TComm::SetDtrControl(TDtrControl v) {
    SetLineField(&TLineSettings::DtrControl, v);
}
void TComm::SetDsrSensitivity(bool v) {
    SetLineField(&TLineSettings::DsrSensitivity, v);
}
void TComm::SetTxContinueOnXoff(bool v) {
    SetLineField(&TLineSettings::TxContinueOnXoff, v);
}
void TComm::SetOutx_XonXoffFlow(bool v) {
    SetLineField(&TLineSettings::Outx_XonXoffFlow, v);
}
void TComm::SetInx_XonXoffFlow(bool v) {
    SetLineField(&TLineSettings::Inx_XonXoffFlow, v);
}
void TComm::SetReplaceWhenParityError(bool v) {
    SetLineField(&TLineSettings::ReplaceWhenParityError, v);
}
void TComm::SetIgnoreNullChar(bool v) {
    SetLineField(&TLineSettings::IgnoreNullChar, v);
}
void TComm::SetRtsControl(TRtsControl v) {
    SetLineField(&TLineSettings::RtsControl, v);
}
void TComm::SetXonLimit(std::uint16_t v) {
    SetLineField(&TLineSettings::XonLimit, v);
}
void TComm::SetXoffLimit(std::uint16_t v) {
    SetLineField(&TLineSettings::XoffLimit, v);
}
void TComm::SetByteSize(TByteSize v) {
    SetLineField(&TLineSettings::ByteSize, v);
}
void TComm::SetParity(TParity v) {
    SetLineField(&TLineSettings::Parity, v);
}
void TComm::SetStopBits(TStopBits v) {
    SetLineField(&TLineSettings::StopBits, v);
}
void TComm::SetXonChar(char v) {
    SetLineField(&TLineSettings::XonChar, v);
}
void TComm::SetXoffChar(char v) {
    SetLineField(&TLineSettings::XoffChar, v);
}
void TComm::SetReplacedChar(char v) {
    SetLineField(&TLineSettings::ReplacedChar, v);
}

void TComm::SetReadIntervalTimeout(std::uint32_t v) {
    SetTimeoutField(&TCommTimeouts::ReadIntervalTimeout, v);
}
void TComm::SetReadTotalTimeoutMultiplier(std::uint32_t v) {
    SetTimeoutField(&TCommTimeouts::ReadTotalTimeoutMultiplier, v);
}
void TComm::SetReadTotalTimeoutConstant(std::uint32_t v) {
    SetTimeoutField(&TCommTimeouts::ReadTotalTimeoutConstant, v);
}
void TComm::SetWriteTotalTimeoutMultiplier(std::uint32_t v) {
    SetTimeoutField(&TCommTimeouts::WriteTotalTimeoutMultiplier, v);
}
void TComm::SetWriteTotalTimeoutConstant(std::uint32_t v) {
    SetTimeoutField(&TCommTimeouts::WriteTotalTimeoutConstant, v);
}
