// The link session: the one owner of the Modbus master. It keeps the line and the device
// address, chooses every query (one-shot queries first, then the metering rotation), adopts the
// line settings a settings write moved the meter to, runs the closing protocol and shows the
// traffic in the status bar. What it learns of the meter goes to the meter model of the meter
// it reaches now, which raises the events that pages, chart, recorder and journal follow.
#pragma once

#include "link/LinkPort.h"
#include "link/LinkStatus.h"
#include "link/LinkViews.h"
#include "link/OverLimitBox.h"
#include "link/PagePresenter.h"
#include "link/QueryQueue.h"
#include "link/TrafficObserver.h"
#include "meter/MeterModel.h"
#include "meter/MeteringReadProgress.h"
#include "meter/QueryPlan.h"
#include "modbus/KrModbus.h"
#include "widgets/Dialogs.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TLinkTestAccess;

class TFormModbus : public ILinkPort {
public:
    using TLineChange = TQueryQueue::TLineChange;
    using TPendingQuery = TQueryQueue::TPendingQuery;

    TFormModbus(ILinkShell& shell, IDialogs& dialogs);
    ~TFormModbus() override;
    TFormModbus(const TFormModbus&) = delete;
    TFormModbus& operator=(const TFormModbus&) = delete;

    // The pages, once they exist; any of them may be absent.
    void SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo, ISettingsView* settings);

    // ILinkPort
    const TMeterModel& Meter() const override { return *FMeter; }
    void Follow(IMeterEvents* follower) override { FEvents.Follow(follower); }
    void Unfollow(IMeterEvents* follower) override { FEvents.Unfollow(follower); }
    using ILinkPort::AppendQuery;
    void AppendQuery(std::string text, std::string needs) override;
    void SetNewLineSettings(std::uint8_t deviceAddress, int baudrate, std::optional<TParity> parity,
                            std::optional<TStopBits> stopBits) override;
    std::size_t QueriesLeft() const override { return FQueue.Size() + (FInFlight ? 1 : 0); }
    bool Closing() const override { return FClosing; }
    TLinkLine Line() const override;
    std::uint64_t SentCount() const override { return FStatus.Traffic().SentCount(); }
    std::uint64_t ErrorCount() const override { return FStatus.Traffic().ErrorCount(); }
    void SetTrafficObserver(ITrafficObserver* observer) override { FObserver = observer; }

    // A query is on the line and its end not yet handled.
    bool QueryInFlight() const { return FInFlight.has_value(); }

    // The port and the line, for the connection dialog and the main window.
    std::uint16_t PortNum() const { return Modbus.PortNum(); }
    int Baudrate() const { return Modbus.Baudrate(); }
    TParity Parity() const { return Modbus.Parity(); }
    TStopBits StopBits() const { return Modbus.StopBits(); }
    void SetBaudrate(int value) { Modbus.SetBaudrate(value); }
    void SetParity(TParity value) { Modbus.SetParity(value); }
    void SetStopBits(TStopBits value) { Modbus.SetStopBits(value); }
    int QueryInterval() const { return Modbus.QueryInterval(); }
    void SetQueryInterval(int ms) { Modbus.SetQueryInterval(ms); }
    int QueryTimeout() const { return Modbus.QueryTimeout(); }
    void SetQueryTimeout(int ms) { Modbus.SetQueryTimeout(ms); }
    // Opens the port; false with the system's error number kept (OpenSystemError) when it
    // cannot.
    bool Open() { return Modbus.Open(); }
    int OpenSystemError() const { return Modbus.OpenSystemError(); }
    bool Opened() const { return Modbus.Opened(); }
    bool Running() const { return Modbus.Running(); }
    // Starts the query cycle on the open port (at once when `now`).
    void Start(bool now) { Modbus.Start(now); }
    // Ends the cycle after the query on the line; its end closes the port (ModbusQueryFinish).
    void Stop() { Modbus.Stop(); }
    void SetClock(IKrClock& clock) { Modbus.SetClock(clock); }

    // Queues the reads of the page shown; false (and nothing queued) while offline.
    bool RequestPageData();
    // Write commands of the pages enabled exactly while the shell is online.
    void UpdateCommandStates();
    // Clean-up after the query cycle has stopped; also called by the shell when a disconnect
    // is requested while no cycle runs.
    void ModbusQueryFinish(TKrPolling& Sender);
    // The same when the shell ends a connection whose cycle does not run.
    void EndCycle() { ModbusQueryFinish(Modbus); }

    // Another port. A cycle that the change of port cuts short still ends as a disconnect
    // does: its query counts as failed, the queue is dropped and the shell goes offline.
    void SetPortNum(std::uint16_t port);

    // Closing: the writes of confirmed commands that are still waiting go out, each within
    // its time-out, the reads queued between them are dropped, and then the cycle ends and
    // the port closes as after Disconnect. False when no write is waiting or on its way, or
    // no cycle runs: nothing to wait for.
    bool FinishWritesThenStop();

    const std::deque<TPendingQuery>& PendingQueries() const { return FQueue.Queries(); }
    std::vector<std::string> PendingTexts() const { return FQueue.Texts(); }

    std::uint8_t NewDeviceAddress() const { return FQueue.New().DeviceAddress; }
    int NewBaudrate() const { return FQueue.New().Baudrate; }
    TParity NewParity() const { return FQueue.New().Parity; }
    TStopBits NewStopBits() const { return FQueue.New().StopBits; }

    std::uint8_t DeviceAddress() const { return FDeviceAddress; }
    // Another address is another meter: a new meter model, which knows nothing, and while
    // connected its identity and ratios are asked for at once. So is another port or line
    // setting (unless a settings write moved the meter there), and a disconnect forgets it too.
    void SetDeviceAddress(std::uint8_t value);
    int PollStep() const { return FRotation.Step(); }
    void SetPollStep(int value) { FRotation.SetStep(value); }

    // The connection dialog restarts the statistics when the device address changes.
    void ResetCounts() { FStatus.ResetCounts(); }
    // Names the likely cause of the line's state (the communication statistics' verdict).
    // While the reads go unanswered, the transmit panel shows it instead of the frames.
    void SetFailureCause(std::function<QString()> cause) {
        FStatus.SetFailureCause(std::move(cause));
    }
    // The last read ended without a valid answer.
    bool ReadsFailing() const { return FStatus.ReadsFailing(); }

    // How long the link blocks after adopting new line settings, so the meter can switch
    // over before the next frame. It sleeps on the master's clock, which tests replace.
    int AdoptWait() const { return FAdoptWait; }
    void SetAdoptWait(int ms) { FAdoptWait = ms; }

    // Handlers bound to the master's events.
    void ModbusQueryData(TKrModbus& Sender, std::string& FmtData);
    void ModbusF10Response(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::uint16_t DataCount);
    void ModbusF01Response(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::span<const bool> Values);
    void ModbusF02Response(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::span<const bool> Values);
    void ModbusF03Response(TKrModbus& Sender, std::uint8_t Slave, std::uint16_t StartAddr,
                           std::span<const std::uint16_t> Values);
    void ModbusSendData(TKrPolling& Sender, const std::string& Data);
    void ModbusRecvData(TKrPolling& Sender, const std::string& Data);
    void ModbusResponseError(TKrModbus& Sender);
    void ModbusAfterResponse(TKrModbus& Sender);
    void ModbusExceptionResponse(TKrModbus& Sender, std::uint8_t Slave, int AExceptionCode);
    void ModbusLineError(TKrModbus& Sender, std::uint32_t EventMask);
    void ModbusLineLost(TKrPolling& Sender);

private:
    friend class TLinkTestAccess;

    void NewMeter(bool ask);
    void DropDependents(const std::string& failed);
    bool MeteringAnswered(TMeteringBlock block);
    void ReportQueryEnd(TKrModbus& sender);

    // The master: nothing outside the session touches it (tests reach it through
    // TLinkTestAccess).
    TKrModbus Modbus;
    ILinkShell& FShell;
    TMeterEventStream FEvents;
    std::unique_ptr<TMeterModel> FMeter;
    TPagePresenter FPresenter;
    TOverLimitBox FOverLimit;
    TLinkStatus FStatus;

    // The query of this turn as handed to the master (placeholder address), and whether its
    // outcome is still to come.
    std::string FCurrentQuery;
    bool FQueryOpen = false;
    // Closing: only the queued writes still go out.
    bool FFinishingWrites = false;
    bool FClosing = false;
    // The line whose meter the model was read from; none between connections.
    std::optional<TLinkLine> FMeterLine;
    std::uint8_t FDeviceAddress = 1;
    TPollRotation FRotation;
    TQueryQueue FQueue;
    ITrafficObserver* FObserver = nullptr;
    int FAdoptWait = 2000;
    // The metering block the query in progress reads, and whether its answer came.
    TMeteringReadProgress FMeteringRead;

    // The query on the line, with the line it went out on, until its answer has been handled.
    std::optional<std::pair<std::string, TLinkLine>> FInFlight;
    // A switch of line settings made while handling the answer in flight.
    std::optional<std::pair<TLinkLine, TLinkLine>> FAdopted;
};
