// TComm owns one serial port: its name, line settings and time-outs, and the five events it
// raises on the thread that created it. What exists only while the port is open (the device
// and the reader and writer threads) is a TOpenPort.
#pragma once

#include "platform/SerialDevice.h"
#include "platform/SerialLine.h"
#include "serial/CommsError.h"
#include "serial/LineEvents.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TNotifyQueue;
class TOpenPort;

class TComm {
public:
    // Line-error flags of OnReceiveError's EventMask and modem bits of OnModemStateChange.
    static constexpr std::uint32_t ErrRxOver = LineEvents::ErrRxOver;
    static constexpr std::uint32_t ErrOverrun = LineEvents::ErrOverrun;
    static constexpr std::uint32_t ErrParity = LineEvents::ErrParity;
    static constexpr std::uint32_t ErrFrame = LineEvents::ErrFrame;
    static constexpr std::uint32_t ErrBreak = LineEvents::ErrBreak;
    static constexpr std::uint32_t ModemCtsOrDcd = LineEvents::ModemCtsOrDcd;
    static constexpr std::uint32_t ModemRing = LineEvents::ModemRing;
    static constexpr std::uint32_t ModemDsr = LineEvents::ModemDsr;

    // Buffer holds BufferLength bytes (1 to 2048) followed by one zero byte; it is
    // valid only during the call.
    using TReceiveDataEvent =
        std::function<void(TComm& Sender, const char* Buffer, std::uint16_t BufferLength)>;
    using TReceiveErrorEvent = std::function<void(TComm& Sender, std::uint32_t EventMask)>;
    using TModemStateChangeEvent = std::function<void(TComm& Sender, std::uint32_t ModemEvent)>;
    using TNotifyEvent = std::function<void(TComm& Sender)>;
    using TSendDataEmptyEvent = std::function<void(TComm& Sender)>;
    using TDeviceFactory = std::function<std::unique_ptr<TSerialDevice>()>;

    // Must be created on the thread that runs the Qt event loop delivering the events.
    TComm();
    // Closes the port if the owner has not. Not to be destroyed from inside one of its events.
    ~TComm();
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    // Throws ECommsError; on failure everything acquired is released again.
    void OpenPort();
    void ClosePort();
    // Queues a copy; false when closed, the writer has ended, the line was reported
    // lost (OnRequestHangup), or Length is 0.
    bool WriteData(const char* Buffer, std::uint16_t Length);

    bool IsOpen() const;
    // True while the writer has nothing to send (and whenever the port is closed).
    bool SendIdle() const { return FSendIdle.load(); }

    // Where devices come from; tests put a scripted fake here. Takes effect at the
    // next OpenPort. An empty factory restores the real one.
    void SetDeviceFactory(TDeviceFactory factory);

    const std::string& CommName() const { return FCommName; }
    void SetCommName(const std::string& value) { FCommName = value; }

    std::uint32_t BaudRate() const { return FLine.BaudRate; }
    void SetBaudRate(std::uint32_t value);
    bool ParityCheck() const { return FLine.ParityCheck; }
    void SetParityCheck(bool value);
    bool Outx_CtsFlow() const { return FLine.Outx_CtsFlow; }
    void SetOutx_CtsFlow(bool value);
    bool Outx_DsrFlow() const { return FLine.Outx_DsrFlow; }
    void SetOutx_DsrFlow(bool value);
    TDtrControl DtrControl() const { return FLine.DtrControl; }
    void SetDtrControl(TDtrControl value);
    bool DsrSensitivity() const { return FLine.DsrSensitivity; }
    void SetDsrSensitivity(bool value);
    bool TxContinueOnXoff() const { return FLine.TxContinueOnXoff; }
    void SetTxContinueOnXoff(bool value);
    bool Outx_XonXoffFlow() const { return FLine.Outx_XonXoffFlow; }
    void SetOutx_XonXoffFlow(bool value);
    bool Inx_XonXoffFlow() const { return FLine.Inx_XonXoffFlow; }
    void SetInx_XonXoffFlow(bool value);
    bool ReplaceWhenParityError() const { return FLine.ReplaceWhenParityError; }
    void SetReplaceWhenParityError(bool value);
    bool IgnoreNullChar() const { return FLine.IgnoreNullChar; }
    void SetIgnoreNullChar(bool value);
    TRtsControl RtsControl() const { return FLine.RtsControl; }
    void SetRtsControl(TRtsControl value);
    std::uint16_t XonLimit() const { return FLine.XonLimit; }
    void SetXonLimit(std::uint16_t value);
    std::uint16_t XoffLimit() const { return FLine.XoffLimit; }
    void SetXoffLimit(std::uint16_t value);
    TByteSize ByteSize() const { return FLine.ByteSize; }
    void SetByteSize(TByteSize value);
    TParity Parity() const { return FLine.Parity; }
    void SetParity(TParity value);
    TStopBits StopBits() const { return FLine.StopBits; }
    void SetStopBits(TStopBits value);
    char XonChar() const { return FLine.XonChar; }
    void SetXonChar(char value);
    char XoffChar() const { return FLine.XoffChar; }
    void SetXoffChar(char value);
    char ReplacedChar() const { return FLine.ReplacedChar; }
    void SetReplacedChar(char value);

    std::uint32_t ReadIntervalTimeout() const { return FTimeouts.ReadIntervalTimeout; }
    void SetReadIntervalTimeout(std::uint32_t value);
    std::uint32_t ReadTotalTimeoutMultiplier() const {
        return FTimeouts.ReadTotalTimeoutMultiplier;
    }
    void SetReadTotalTimeoutMultiplier(std::uint32_t value);
    std::uint32_t ReadTotalTimeoutConstant() const { return FTimeouts.ReadTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(std::uint32_t value);
    std::uint32_t WriteTotalTimeoutMultiplier() const {
        return FTimeouts.WriteTotalTimeoutMultiplier;
    }
    void SetWriteTotalTimeoutMultiplier(std::uint32_t value);
    std::uint32_t WriteTotalTimeoutConstant() const { return FTimeouts.WriteTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(std::uint32_t value);

    // Raised on the creating thread, in the order the threads reported; unbound ones are skipped.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

private:
    template <typename T, typename V> void SetLineField(T TLineSettings::*field, V value);
    template <typename V> void SetTimeoutField(std::uint32_t TCommTimeouts::*field, V value);
    std::unique_ptr<TSerialDevice> OpenDevice() const;
    void Dispatch(int code, std::uint32_t param, const std::string& data);

    std::string FCommName = "COM2";
    TLineSettings FLine;
    TCommTimeouts FTimeouts;
    TDeviceFactory FDeviceFactory;

    std::unique_ptr<TNotifyQueue> FNotifyWindow;
    std::atomic<bool> FSendIdle{true};
    std::unique_ptr<TOpenPort> FPort; // set exactly while the port is open
};
