// The link session: it drives the Modbus master (set up and owned by its base TModbusLine) and
// keeps the connection state, the line and the device address. It chooses every query (one-shot
// queries first, then the metering rotation), adopts the line settings a settings write moved the
// meter to, runs the closing protocol and shows the traffic in the status bar. What it learns of
// the meter goes to the meter model of the meter it reaches now, which raises the events that
// pages, chart, recorder and journal follow.
#pragma once

#include "link/BusMeters.h"
#include "link/ClosingWrites.h"
#include "link/ConnectionState.h"
#include "link/InFlightQuery.h"
#include "link/LinkPort.h"
#include "link/LinkStatus.h"
#include "link/LinkViews.h"
#include "link/ModbusLine.h"
#include "link/OverLimitBox.h"
#include "link/PagePresenter.h"
#include "link/QueryQueue.h"
#include "link/ReachedMeter.h"
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

class TFormModbus : public ILinkPort, public TModbusLine {
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
    const TMeterModel& Meter() const override { return FMeter.Model(); }
    void Follow(IMeterEvents* follower) override { FEvents.Follow(follower); }
    void Unfollow(IMeterEvents* follower) override { FEvents.Unfollow(follower); }
    using ILinkPort::AppendQuery;
    void AppendQuery(std::string text, std::string needs) override;
    void SetNewLineSettings(std::uint8_t deviceAddress, int baudrate, std::optional<TParity> parity,
                            std::optional<TStopBits> stopBits) override;
    std::size_t QueriesLeft() const override {
        return FQueue.Size() + (FInFlight.Active() ? 1 : 0);
    }
    bool Closing() const override { return FClose.Closing(); }
    TLinkLine Line() const override;
    std::uint64_t SentCount() const override { return FStatus.Traffic().SentCount(); }
    std::uint64_t ErrorCount() const override { return FStatus.Traffic().ErrorCount(); }
    void SetTrafficObserver(ITrafficObserver* observer) override { FObserver = observer; }

    // A query is on the line and its end not yet handled.
    bool QueryInFlight() const { return FInFlight.Active(); }

    // The connection: the shell sets Online on connect, the link goes Offline when the cycle
    // ends; the shell hears of each change.
    TConnectionState State() const { return FState; }
    bool IsOnline() const { return FState == TConnectionState::Online; }
    void SetState(TConnectionState state);
    // Online becomes Disconnecting; offline stays so.
    void RequestDisconnect();

    // Queues the reads of the page shown; false (and nothing queued) while offline.
    bool RequestPageData();
    // Write commands of the pages enabled exactly while the link is online.
    void UpdateCommandStates();
    // Clean-up after the query cycle has stopped; also called by the shell when a disconnect
    // is requested while no cycle runs.
    void ModbusQueryFinish(TKrPolling& Sender);
    // The same when the shell ends a connection whose cycle does not run.
    void EndCycle() { ModbusQueryFinish(FModbus); }

    // Another port. A cycle that the change of port cuts short still ends as a disconnect
    // does: its query counts as failed, the queue is dropped and the link goes offline.
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

    // --- Several meters on the line.
    // The meters the master polls on this line. With more than one, the schedule decides whose
    // turn it is when no one-shot query waits: the selected meter's turn is the page's
    // rotation, another meter's reads its identity and serial number once and then its
    // measurements, on a stream of its own. The selected meter moves to the first address
    // when the list leaves it out; one address (or none) polls as a single meter.
    void SetBusAddresses(const std::vector<int>& addresses);
    const std::vector<int>& BusAddresses() const { return FBus.Addresses(); }
    // Another listed meter becomes the one the pages show and write, without reconnecting;
    // MeterChanged tells them. False for an address not on the list or already selected.
    // Never from inside an event of the stream.
    bool SelectMeter(int address);
    const TBusSchedule& Bus() const { return FBus.Schedule(); }
    // The model of a listed meter: Meter() for the selected one, nullptr off the list.
    const TMeterModel* BusMeter(int address) const;
    // The events of the listed meters other than the selected one.
    void FollowBus(IMeterEvents* follower) { FBus.Events().Follow(follower); }
    void UnfollowBus(IMeterEvents* follower) { FBus.Events().Unfollow(follower); }
    // The operator's pause of one meter: never asked until resumed.
    bool PauseMeter(int address) { return FBus.Pause(address); }
    bool ResumeMeter(int address) { return FBus.Resume(address, Now()); }
    bool MeterPaused(int address) const { return FBus.Paused(address); }
    // How often the meters not selected are read.
    void SetOtherMetersInterval(int ms) { FBus.SetOtherInterval(ms); }
    // The master's time, on which the schedule runs.
    std::int64_t Now() const { return FModbus.Clock().NowMs(); }

    // The connection dialog restarts the statistics when the device address changes.
    void ResetCounts() { FStatus.ResetCounts(); }
    // Names the likely cause of the line's state (the communication statistics' verdict).
    // While the reads go unanswered, the transmit panel shows it instead of the frames.
    void SetFailureCause(std::function<QString()> cause) {
        FStatus.SetFailureCause(std::move(cause));
    }
    // The last read ended without a valid answer.
    bool ReadsFailing() const { return FStatus.ReadsFailing(); }

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
    void ModbusResponseError(TKrModbus& /*Sender*/) { FStatus.ResponseError(); }
    void ModbusAfterResponse(TKrModbus& Sender);
    void ModbusExceptionResponse(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                 int AExceptionCode) {
        FOverLimit.ExceptionAnswer(FCurrentQuery, AExceptionCode, FClose.Closing());
    }
    void ModbusLineError(TKrModbus& /*Sender*/, std::uint32_t EventMask) {
        if (FObserver)
            FObserver->LineErrors(EventMask);
    }
    void ModbusLineLost(TKrPolling& /*Sender*/) { FStatus.LineLost(); }

private:
    friend class TLinkTestAccess;

    bool MeteringAnswered(TMeteringBlock block);
    // The selected meter's read of this turn: a fact still missing, else the page's rotation.
    std::string SelectedRead();
    // The turn on a shared line: the read of whichever meter is due, or none.
    std::string BusTurn();
    // The model the query of this turn reads.
    TMeterModel& Answering() const;
    // The end of another meter's query, told on the bus's stream.
    void RaiseOtherEnd(const TKrModbus& sender);

    ILinkShell& FShell;
    TMeterEventStream FEvents;
    TReachedMeter FMeter{FEvents};
    TPagePresenter FPresenter;
    TOverLimitBox FOverLimit;
    TLinkStatus FStatus;

    // The query of this turn as handed to the master (placeholder address), and whether its
    // outcome is still to come.
    std::string FCurrentQuery;
    bool FQueryOpen = false;
    std::uint8_t FDeviceAddress = 1;
    TPollRotation FRotation;
    TQueryQueue FQueue;
    TClosingWrites FClose{FQueue};
    ITrafficObserver* FObserver = nullptr;
    TConnectionState FState = TConnectionState::Offline;
    // The metering block the query in progress reads, and whether its answer came.
    TMeteringReadProgress FMeteringRead;

    TInFlightQuery FInFlight{FEvents, FQueue, FStatus};
    TBusMeters FBus;
    // The address the query of this turn went to, and whether it is a meter not selected (its
    // query is told on the bus's stream).
    int FTurnAddress = 1;
    bool FTurnOther = false;
    // On a shared line the selected meter's serial number is asked for once per meter.
    bool FSelectedSerialAsked = false;
};
