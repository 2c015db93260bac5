#include "link/ModbusLine.h"

TModbusLine::TModbusLine() {
    FModbus.SetFrameInterval(5);
    FModbus.SetQueryInterval(500);
    FModbus.SetQueryTimeout(3000);
    FModbus.SetPreviewTimeout(0);
    FModbus.SetPortNum(1);
    FModbus.SetBaudrate(19200);
    FModbus.SetDataBits(8);
    FModbus.SetParity(TParity::None);
    FModbus.SetStopBits(TStopBits::_1);
    FModbus.SetRtsCtsFlow(false);
    FModbus.SetIgnoreNullQuery(true);
    FModbus.SetMode(tmRtu);
    FModbus.SetEndCheck(true);
    FModbus.SetAsciiOutput(amUpperCase);
    FModbus.SetProtocolVersion(pvGB19582_2008);
}

TLinkLine TModbusLine::LineAt(std::uint8_t address) const {
    return TLinkLine{FModbus.PortNum(), FModbus.Baudrate(), FModbus.Parity(), FModbus.StopBits(),
                     address};
}

ITrafficObserver::TLineShape TModbusLine::Shape() const {
    // Start and stop bits, 8 data bits, and the parity bit when there is one.
    const int bits = 10 + (FModbus.Parity() != TParity::None ? 1 : 0) +
                     (FModbus.StopBits() == TStopBits::_2 ? 1 : 0);
    return {FModbus.Baudrate(), bits, FModbus.QueryInterval()};
}

void TModbusLine::Adopt(int baudrate, TParity parity, TStopBits stopBits) {
    if (baudrate <= 0 || (FModbus.Baudrate() == baudrate && FModbus.Parity() == parity &&
                          FModbus.StopBits() == stopBits))
        return;
    FModbus.SetBaudrate(baudrate);
    FModbus.SetParity(parity);
    FModbus.SetStopBits(stopBits);
    // The meter switches its line after its answer has gone out; the next frame must not
    // reach it before.
    if (FAdoptWait > 0)
        FModbus.Clock().Sleep(FAdoptWait);
}

void TModbusLine::Shut() {
    FModbus.OnQueryFinish = nullptr;
    FModbus.Close();
}
