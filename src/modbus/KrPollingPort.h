// The transport under a polling master: opening, closing and reopening it with the reason kept
// when that fails, and the serial line's settings (the serial transport is always there; another
// transport can be put in its place).
#pragma once

#include "modbus/KrClock.h"
#include "modbus/KrSerialTransport.h"
#include "modbus/KrTransport.h"

#include <cstdint>
#include <string>

class TKrPollingPort {
public:
    TKrPollingPort();
    virtual ~TKrPollingPort() = default;
    TKrPollingPort(const TKrPollingPort&) = delete;
    TKrPollingPort& operator=(const TKrPollingPort&) = delete;

    // Opens the port; false when it cannot be opened (the reason is kept in OpenErrorText /
    // OpenSystemError).
    virtual bool Open();
    virtual void Close();
    // Closes and opens the port again after ReopenWait ms; false when not open or the open failed.
    virtual bool Reopen();

    bool Opened() const { return FOpened; }

    // A port number other than the one set closes the port (Close).
    std::uint16_t PortNum() const;
    void SetPortNum(std::uint16_t value);
    int Baudrate() const;
    void SetBaudrate(int value);
    std::uint16_t DataBits() const;
    void SetDataBits(std::uint16_t value);
    TParity Parity() const { return Comm().Parity(); }
    // Virtual: the Modbus master turns the parity check on with any parity.
    virtual void SetParity(TParity value) { Comm().SetParity(value); }
    TStopBits StopBits() const { return Comm().StopBits(); }
    void SetStopBits(TStopBits value) { Comm().SetStopBits(value); }
    bool RtsCtsFlow() const;
    void SetRtsCtsFlow(bool value);

    // The pause Reopen makes between closing and opening; tests shorten it.
    int ReopenWait() const { return FReopenWait; }
    void SetReopenWait(int value) { FReopenWait = value; }

    // Why the last Open failed: the port's message and errno (0 if none); empty after success.
    const std::string& OpenErrorText() const { return FOpenErrorText; }
    int OpenSystemError() const { return FOpenSystemError; }

    // The serial port itself, for a device path that is not a COM name and for tests.
    TComm& Comm() { return FSerial.Comm(); }
    const TComm& Comm() const { return FSerial.Comm(); }

    // The transport the master works through: the serial line unless another is set.
    IKrTransport& Transport() { return *FTransport; }
    const IKrTransport& Transport() const { return *FTransport; }

protected:
    // Puts Transport in place of the current one (nullptr: the serial line again); the caller
    // has closed the current one and rebinds the events.
    void UseTransport(IKrTransport* transport) { FTransport = transport ? transport : &FSerial; }

    // The clock Reopen waits on; the polling master's own.
    IKrClock* FClock = &SystemClock();

private:
    TKrSerialTransport FSerial;
    IKrTransport* FTransport = &FSerial;

    // Opens the port, keeping the reason when it fails; true when it opened.
    bool TryOpen();

    bool FOpened = false;
    int FReopenWait = 500;
    TRtsControl FSavedRtsControl = TRtsControl::RtsEnable;
    std::string FOpenErrorText;
    int FOpenSystemError = 0;
};
