// The link's Modbus master, set up as the meter expects, with its port and line settings and
// the switch to the line a settings write moved the meter to. It exists so that the session
// carries neither the master's set-up nor a pass-through for each setting. The session derives
// from it and binds the master's events; nothing else touches the master (tests reach it
// through TLinkTestAccess).
#pragma once

#include "link/TrafficObserver.h"
#include "meter/MeterEvents.h"
#include "modbus/KrModbus.h"

#include <cstdint>
#include <span>
#include <string>

class TModbusLine {
public:
    TModbusLine();
    TModbusLine(const TModbusLine&) = delete;
    TModbusLine& operator=(const TModbusLine&) = delete;

    // The port and the line, for the connection dialog and the main window.
    std::uint16_t PortNum() const { return FModbus.PortNum(); }
    int Baudrate() const { return FModbus.Baudrate(); }
    TParity Parity() const { return FModbus.Parity(); }
    TStopBits StopBits() const { return FModbus.StopBits(); }
    void SetBaudrate(int value) { FModbus.SetBaudrate(value); }
    void SetParity(TParity value) { FModbus.SetParity(value); }
    void SetStopBits(TStopBits value) { FModbus.SetStopBits(value); }
    int QueryInterval() const { return FModbus.QueryInterval(); }
    void SetQueryInterval(int ms) { FModbus.SetQueryInterval(ms); }
    int QueryTimeout() const { return FModbus.QueryTimeout(); }
    void SetQueryTimeout(int ms) { FModbus.SetQueryTimeout(ms); }
    // Opens the port; false with the system's error number kept (OpenSystemError) when it
    // cannot.
    bool Open() { return FModbus.Open(); }
    int OpenSystemError() const { return FModbus.OpenSystemError(); }
    bool Opened() const { return FModbus.Opened(); }
    bool Running() const { return FModbus.Running(); }
    // Starts the query cycle on the open port (at once when `now`).
    void Start(bool now) { FModbus.Start(now); }
    // Ends the cycle after the query on the line; its end closes the port (ModbusQueryFinish).
    void Stop() { FModbus.Stop(); }
    void SetClock(IKrClock& clock) { FModbus.SetClock(clock); }

    // How long the link blocks after adopting new line settings, so the meter can switch
    // over before the next frame. It sleeps on the master's clock, which tests replace.
    int AdoptWait() const { return FAdoptWait; }
    void SetAdoptWait(int ms) { FAdoptWait = ms; }

protected:
    ~TModbusLine() = default;

    // The line of the meter at this address.
    TLinkLine LineAt(std::uint8_t address) const;
    // The shape of a frame on this line, for the traffic observer.
    ITrafficObserver::TLineShape Shape() const;
    // Takes the line settings a settings write moved the meter to (none when the write named
    // no baud rate) and gives the meter time to switch over.
    void Adopt(int baudrate, TParity parity, TStopBits stopBits);
    // Closes the port; the master's events must no longer reach the handler while it closes.
    void Shut();

    // The master's events go to the handler's methods of the same name.
    template <class THandler> void Bind(THandler& h) {
        FModbus.OnQueryData = [&h](TKrModbus& s, std::string& d) { h.ModbusQueryData(s, d); };
        FModbus.OnQueryFinish = [&h](TKrPolling& s) { h.ModbusQueryFinish(s); };
        FModbus.OnF10Response = [&h](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                     std::uint16_t count) {
            h.ModbusF10Response(s, slave, start, count);
        };
        FModbus.OnF01Response = [&h](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                     std::span<const bool> v) {
            h.ModbusF01Response(s, slave, start, v);
        };
        FModbus.OnF02Response = [&h](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                     std::span<const bool> v) {
            h.ModbusF02Response(s, slave, start, v);
        };
        FModbus.OnF03Response = [&h](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                     std::span<const std::uint16_t> v) {
            h.ModbusF03Response(s, slave, start, v);
        };
        FModbus.OnSendData = [&h](TKrPolling& s, const std::string& d) { h.ModbusSendData(s, d); };
        FModbus.OnRecvData = [&h](TKrPolling& s, const std::string& d) { h.ModbusRecvData(s, d); };
        FModbus.OnResponseError = [&h](TKrModbus& s) { h.ModbusResponseError(s); };
        FModbus.OnAfterResponse = [&h](TKrModbus& s) { h.ModbusAfterResponse(s); };
        FModbus.OnExceptionResponse = [&h](TKrModbus& s, std::uint8_t slave, int code) {
            h.ModbusExceptionResponse(s, slave, code);
        };
        FModbus.OnLineError = [&h](TKrModbus& s, std::uint32_t mask) {
            h.ModbusLineError(s, mask);
        };
        FModbus.OnLineLost = [&h](TKrPolling& s) { h.ModbusLineLost(s); };
    }

    TKrModbus FModbus;

private:
    int FAdoptWait = 2000;
};
