#include "link/frmModbus.h"

#include "meter/QueryAddress.h"
#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"

#include <algorithm>

TFormModbus::TFormModbus(ILinkShell& shell, IDialogs& dialogs)
    : FShell(shell), FOverLimit(dialogs), FStatus(shell, [this] { return PortNum(); }) {
    FEvents.Follow(&FPresenter);
    Bind(*this);
    FMeter.Forget(Line());
}

TFormModbus::~TFormModbus() {
    // The master's events point back here; nothing may reach this object while the master
    // closes its port.
    Shut();
}

void TFormModbus::SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo,
                           ISettingsView* settings) {
    FPresenter.SetViews(metering, deviceInfo, settings);
}

TLinkLine TFormModbus::Line() const {
    return LineAt(FDeviceAddress);
}

void TFormModbus::SetState(TConnectionState state) {
    if (state == FState)
        return;
    FState = state;
    FShell.ConnectionChanged(state);
}

void TFormModbus::RequestDisconnect() {
    if (FState == TConnectionState::Online)
        SetState(TConnectionState::Disconnecting);
}

bool TFormModbus::RequestPageData() {
    if (!IsOnline())
        return false;
    for (std::string& read : PageReads(FShell.ActivePage(), FMeter->SoftwareVersion()))
        AppendQuery(std::move(read));
    FRotation.Restart();
    return true;
}

void TFormModbus::UpdateCommandStates() {
    FPresenter.SetOnline(IsOnline());
}

void TFormModbus::AppendQuery(std::string text, std::string needs) {
    FQueue.Append(std::move(text), std::move(needs));
}

void TFormModbus::SetNewLineSettings(std::uint8_t deviceAddress, int baudrate,
                                     std::optional<TParity> parity,
                                     std::optional<TStopBits> stopBits) {
    FQueue.SetNewLineSettings(deviceAddress, baudrate, parity, stopBits);
}

void TFormModbus::SetDeviceAddress(std::uint8_t value) {
    if (value == FDeviceAddress)
        return;
    FDeviceAddress = value;
    FMeter.Renew(Line(), FState != TConnectionState::Offline);
    FSelectedSerialAsked = false;
}

std::string TFormModbus::SelectedRead() {
    if (const char* missing = FMeter->MissingRead())
        return missing;
    if (const char* polled = FRotation.Next(FShell.ActivePage(), FMeter->SoftwareVersion()))
        return polled;
    return {};
}

std::string TFormModbus::BusTurn() {
    const std::int64_t now = Now();
    const bool idle = FMeter->MissingRead() == nullptr && !PolledPage(FShell.ActivePage());
    FBus.SetSelectedIdle(FDeviceAddress, idle, now);
    FBus.KeepSelectedInterval(FDeviceAddress, QueryInterval());
    const auto due = FBus.Due(now);
    if (!due)
        return {};
    if (*due == FDeviceAddress) {
        // The Bus page names every meter by its serial number, the one shown too.
        if (!FMeter->SerialNumberKnown() && FMeter->MissingRead() == nullptr &&
            !FSelectedSerialAsked) {
            FSelectedSerialAsked = true;
            return qry::SerialNumber;
        }
        return SelectedRead();
    }
    FTurnAddress = *due;
    FTurnOther = true;
    const char* read = FBus.ReadFor(*due);
    return read != nullptr ? read : std::string();
}

TMeterModel& TFormModbus::Answering() const {
    if (TMeterModel* other = FBus.Other(FTurnAddress); other != nullptr && FBus.Shared())
        return *other;
    return *FMeter.operator->();
}

void TFormModbus::ModbusQueryData(TKrModbus& Sender, std::string& FmtData) {
    const bool onlyWrites = FClose.OnlyWrites();
    FMeter.QueryOn(Line());
    FTurnAddress = FDeviceAddress;
    FTurnOther = false;
    std::string query;
    if (auto next = FQueue.Take()) {
        query = std::move(*next);
        FRotation.Restart();
    } else if (onlyWrites) {
        // Nothing more goes out once the writes are done.
    } else if (FBus.Shared()) {
        query = BusTurn();
    } else {
        query = SelectedRead();
    }
    if (FClose.LastWriteTaken())
        Sender.Stop();
    Answering().QueryStarted(query);
    FStatus.QueryStarted();
    FQueryOpen = !query.empty();
    FMeteringRead.Begin(query);

    TLinkLine line = Line();
    line.Address = static_cast<std::uint8_t>(FTurnAddress);
    FInFlight.Start(FTurnOther ? std::string() : query, line);
    if (FTurnOther)
        FBus.Events().Raise([&](IMeterEvents& e) { e.QueryStarting(query, line); });
    if (FBus.Shared() && !query.empty())
        FBus.Started(FTurnAddress, Now());
    FCurrentQuery = std::move(query);
    FmtData = FCurrentQuery.empty()
                  ? NullQuery()
                  : WithAddress(FCurrentQuery, static_cast<std::uint8_t>(FTurnAddress));
}

void TFormModbus::SetBusAddresses(const std::vector<int>& addresses) {
    std::vector<int> listed;
    for (const int address : addresses)
        if (IsMeterAddress(address))
            listed.push_back(address);
    if (!listed.empty() && std::find(listed.begin(), listed.end(), FDeviceAddress) == listed.end())
        SetDeviceAddress(static_cast<std::uint8_t>(listed.front()));
    FBus.SetAddresses(listed, FDeviceAddress, Line(), Now(), QueryInterval());
}

bool TFormModbus::SelectMeter(int address) {
    if (!FBus.Listed(address) || address == FDeviceAddress)
        return false;
    const int previous = FDeviceAddress;
    FDeviceAddress = static_cast<std::uint8_t>(address);
    FBus.Put(previous, FMeter.Exchange(FBus.Take(address)));
    FSelectedSerialAsked = false;
    FBus.Selected(address, previous, QueryInterval(), Now());
    FRotation.Restart();
    FShell.RefreshStatusAddress();
    RequestPageData();
    return true;
}

void TFormModbus::RaiseOtherEnd(const TKrModbus& sender) {
    TLinkLine line = Line();
    line.Address = static_cast<std::uint8_t>(FTurnAddress);
    const TQueryOutcome outcome = OutcomeOf(sender);
    FBus.Events().Raise([&](IMeterEvents& e) { e.QueryFinished(FCurrentQuery, line, outcome); });
}

const TMeterModel* TFormModbus::BusMeter(int address) const {
    if (address == FDeviceAddress)
        return &FMeter.Model();
    return FBus.Other(address);
}

void TFormModbus::SetPortNum(std::uint16_t port) {
    const bool running = Running();
    FModbus.SetPortNum(port);
    if (!running || Running())
        return;
    // The change of port closed the port under the cycle, which then ends without its own
    // finish: the query in progress failed, and the link and the shell end as after a
    // disconnect.
    if (FQueryOpen)
        FStatus.QueryAbandoned();
    FQueryOpen = false;
    FStatus.QueryEnded(false);
    ModbusQueryFinish(FModbus);
    SetState(TConnectionState::Offline);
}

bool TFormModbus::FinishWritesThenStop() {
    if (!Running() || !FClose.Begin(FQueryOpen && IsWriteQuery(FCurrentQuery)))
        return false;
    if (FQueue.Empty())
        Stop();
    return true;
}

bool TFormModbus::MeteringAnswered(TMeteringBlock block) {
    // The answer to the metering read in progress counts once; its read is no gap.
    return FMeteringRead.Answer(block);
}

void TFormModbus::ModbusQueryFinish(TKrPolling& /*Sender*/) {
    FQueue.Clear();
    FInFlight.Reset();
    FClose.CycleEnded();
    FQueryOpen = false;
    FMeteringRead.Clear();
    FMeter->StopAsking();
    if (FBus.Shared()) {
        FBus.Abandoned(Now());
        FBus.Forget(Line());
    }
    if (FState == TConnectionState::Disconnecting)
        SetState(TConnectionState::Offline);
    if (Opened()) {
        FModbus.Close();
        SetState(TConnectionState::Offline);
    }
    FStatus.CycleEnded();
    FEvents.Raise([](IMeterEvents& e) { e.CycleEnded(); });
    // The rows of this connection are written under its meter, on CycleEnded; the next
    // connection may reach another meter.
    FMeter.Forget(Line());
    FSelectedSerialAsked = false;

    if (FObserver)
        FObserver->PollingEnded();
}

void TFormModbus::ModbusF10Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t StartAddr, std::uint16_t /*DataCount*/) {
    if (StartAddr != sbGeneral)
        return;
    const TLinkLine before = Line();
    const TQueryQueue::TLineChange& New = FQueue.New();
    FMeter->RatiosWritten();
    // Address 0 is the broadcast address, never a meter's own: a write that did not come
    // from a settings sequence has nothing to adopt.
    if (New.DeviceAddress != 0)
        FDeviceAddress = New.DeviceAddress;
    Adopt(New.Baudrate, New.Parity, New.StopBits);
    FInFlight.Adopted(before, Line());
    FMeter.MovedTo(Line());
    FShell.RefreshStatusAddress();
}

void TFormModbus::ModbusF01Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    if (MeteringAnswered(TMeteringBlock::Relays))
        Answering().BitsRead(TMeteringBlock::Relays, Values);
}

void TFormModbus::ModbusF02Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    if (MeteringAnswered(TMeteringBlock::Inputs))
        Answering().BitsRead(TMeteringBlock::Inputs, Values);
}

void TFormModbus::ModbusF03Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t StartAddr,
                                    std::span<const std::uint16_t> Values) {
    const bool metering = StartAddr == rbMeasurement || StartAddr == rbEnergy;
    const TMeteringBlock block =
        StartAddr == rbEnergy ? TMeteringBlock::Energy : TMeteringBlock::Measurement;
    if (metering && !MeteringAnswered(block))
        return;
    Answering().RegistersRead(StartAddr, Values);
}

void TFormModbus::ModbusSendData(TKrPolling& /*Sender*/, const std::string& Data) {
    FBus.FrameSent(Now());
    if (FObserver)
        FObserver->FrameSent(Data, Shape());
    FStatus.FrameSent(Data);
}

void TFormModbus::ModbusRecvData(TKrPolling& /*Sender*/, const std::string& Data) {
    FBus.DataReceived(Now());
    if (FObserver)
        FObserver->DataReceived(Data);
    FStatus.DataReceived(Data);
}

void TFormModbus::ModbusAfterResponse(TKrModbus& Sender) {
    if (FObserver)
        FObserver->QueryEnded({Sender.ErrorKind(), Sender.ExceptionCode(), Sender.Broadcast(),
                               Sender.CurrentRequest(), Sender.RecvBuffer()});
    TMeterModel& model = Answering();
    model.QueryEnded();
    FQueryOpen = false;
    // A metering read without its answer is a gap for those watching, never a repeated value.
    if (const auto lost = FMeteringRead.Unanswered())
        model.MeteringLost(*lost);
    FMeteringRead.Clear();
    if (FBus.Shared())
        FBus.Ended(Sender.ErrorKind(), Now());
    if (FTurnOther)
        RaiseOtherEnd(Sender);
    FInFlight.End(Sender);
    FStatus.QueryEnded(FQueue.Empty() && !PolledPage(FShell.ActivePage()));
}
