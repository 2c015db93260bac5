// The serial line as the master's transport: a TComm set up for binary frames, and the RTU
// character timing of its baud rate (the 3.5-character silence that ends a frame).
#pragma once

#include "modbus/KrTransport.h"
#include "serial/Comm.h"

class TKrSerialTransport final : public IKrTransport {
public:
    TKrSerialTransport();
    ~TKrSerialTransport() override;
    TKrSerialTransport(const TKrSerialTransport&) = delete;
    TKrSerialTransport& operator=(const TKrSerialTransport&) = delete;

    void Open() override { FComm.OpenPort(); }
    void Close() override { FComm.ClosePort(); }
    bool IsOpen() const override { return FComm.IsOpen(); }
    bool Write(std::string_view Frame) override;
    int SendTime(int RequestLength) const override;
    int FrameGap() const override;

    TComm& Comm() { return FComm; }
    const TComm& Comm() const { return FComm; }

private:
    TComm FComm;
};
