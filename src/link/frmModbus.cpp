#include "link/frmModbus.h"

#include "meter/QueryAddress.h"
#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"

#include <QDateTime>

#include <algorithm>

TFormModbus::TFormModbus(ILinkShell& shell, IDialogs& dialogs)
    : FShell(shell), FOverLimit(dialogs), FStatus(shell, [this] { return Modbus.PortNum(); }) {
    FEvents.Follow(&FPresenter);
    Modbus.SetFrameInterval(5);
    Modbus.SetQueryInterval(500);
    Modbus.SetQueryTimeout(3000);
    Modbus.SetPreviewTimeout(0);
    Modbus.SetPortNum(1);
    Modbus.SetBaudrate(19200);
    Modbus.SetDataBits(8);
    Modbus.SetParity(TParity::None);
    Modbus.SetStopBits(TStopBits::_1);
    Modbus.SetRtsCtsFlow(false);
    Modbus.SetIgnoreNullQuery(true);
    Modbus.SetMode(tmRtu);
    Modbus.SetEndCheck(true);
    Modbus.SetAsciiOutput(amUpperCase);
    Modbus.SetProtocolVersion(pvGB19582_2008);

    Modbus.OnQueryData = [this](TKrModbus& s, std::string& d) { ModbusQueryData(s, d); };
    Modbus.OnQueryFinish = [this](TKrPolling& s) { ModbusQueryFinish(s); };
    Modbus.OnF10Response = [this](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                  std::uint16_t count) {
        ModbusF10Response(s, slave, start, count);
    };
    Modbus.OnF01Response = [this](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                  std::span<const bool> v) {
        ModbusF01Response(s, slave, start, v);
    };
    Modbus.OnF02Response = [this](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                  std::span<const bool> v) {
        ModbusF02Response(s, slave, start, v);
    };
    Modbus.OnF03Response = [this](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                  std::span<const std::uint16_t> v) {
        ModbusF03Response(s, slave, start, v);
    };
    Modbus.OnSendData = [this](TKrPolling& s, const std::string& d) { ModbusSendData(s, d); };
    Modbus.OnRecvData = [this](TKrPolling& s, const std::string& d) { ModbusRecvData(s, d); };
    Modbus.OnResponseError = [this](TKrModbus& s) { ModbusResponseError(s); };
    Modbus.OnAfterResponse = [this](TKrModbus& s) { ModbusAfterResponse(s); };
    Modbus.OnExceptionResponse = [this](TKrModbus& s, std::uint8_t slave, int code) {
        ModbusExceptionResponse(s, slave, code);
    };
    Modbus.OnLineError = [this](TKrModbus& s, std::uint32_t mask) { ModbusLineError(s, mask); };
    Modbus.OnLineLost = [this](TKrPolling& s) { ModbusLineLost(s); };
    NewMeter(false);
    // No meter has been reached yet: the first query's line is the meter's.
    FMeterLine.reset();
}

TFormModbus::~TFormModbus() {
    // The master's events point back here; nothing may reach this object while the master
    // closes its port.
    Modbus.OnQueryFinish = nullptr;
    Modbus.Close();
}

void TFormModbus::SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo,
                           ISettingsView* settings) {
    FPresenter.SetViews(metering, deviceInfo, settings);
}

TLinkLine TFormModbus::Line() const {
    return TLinkLine{Modbus.PortNum(), Modbus.Baudrate(), Modbus.Parity(), Modbus.StopBits(),
                     FDeviceAddress};
}

void TFormModbus::NewMeter(bool ask) {
    FMeter = std::make_unique<TMeterModel>(Line(), FEvents, ask,
                                           [] { return QDateTime::currentMSecsSinceEpoch(); });
    FMeterLine = Line();
    FEvents.Raise([this](IMeterEvents& e) { e.MeterChanged(*FMeter); });
}

bool TFormModbus::RequestPageData() {
    if (!FShell.IsOnline())
        return false;
    for (std::string& read : PageReads(FShell.ActivePage(), FMeter->SoftwareVersion()))
        AppendQuery(std::move(read));
    FRotation.Restart();
    return true;
}

void TFormModbus::UpdateCommandStates() {
    FPresenter.SetOnline(FShell.IsOnline());
}

void TFormModbus::AppendQuery(std::string text, std::string needs) {
    FQueue.Append(std::move(text), std::move(needs));
}

void TFormModbus::DropDependents(const std::string& failed) {
    const std::vector<std::string> dropped = FQueue.DropDependents(failed);
    if (!dropped.empty())
        FEvents.Raise([&](IMeterEvents& e) { e.QueriesDropped(dropped); });
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
    NewMeter(FShell.Connected());
}

void TFormModbus::ModbusQueryData(TKrModbus& Sender, std::string& FmtData) {
    // Reads queued since closing began are dropped as well.
    if (FFinishingWrites)
        FQueue.KeepWrites();
    // Another port or line setting than the meter's facts were read on: another meter may
    // answer.
    if (FMeterLine && *FMeterLine != Line())
        NewMeter(true);
    FMeterLine = Line();
    std::string query;
    if (auto next = FQueue.Take()) {
        query = std::move(*next);
        FRotation.Restart();
    } else if (FFinishingWrites) {
        // Nothing more goes out once the writes are done.
    } else if (const char* missing = FMeter->MissingRead()) {
        query = missing;
    } else if (const char* polled =
                   FRotation.Next(FShell.ActivePage(), FMeter->SoftwareVersion())) {
        query = polled;
    }
    // The last write is on its way: the cycle ends with its outcome.
    if (FFinishingWrites && FQueue.Empty())
        Sender.Stop();
    FMeter->QueryStarted(query);
    FStatus.QueryStarted();
    FQueryOpen = !query.empty();
    FMeteringRead.Begin(query);

    if (query.empty()) {
        FInFlight.reset();
    } else {
        FInFlight.emplace(query, Line());
        FEvents.Raise([&](IMeterEvents& e) { e.QueryStarting(query, FInFlight->second); });
    }
    FCurrentQuery = std::move(query);
    FmtData = FCurrentQuery.empty() ? NullQuery() : WithAddress(FCurrentQuery, FDeviceAddress);
}

void TFormModbus::SetPortNum(std::uint16_t port) {
    const bool running = Modbus.Running();
    Modbus.SetPortNum(port);
    if (!running || Modbus.Running())
        return;
    // The change of port closed the port under the cycle, which then ends without its own
    // finish: the query in progress failed, and the link and the shell end as after a
    // disconnect.
    if (FQueryOpen)
        FStatus.QueryAbandoned();
    FQueryOpen = false;
    FStatus.QueryEnded(false);
    ModbusQueryFinish(Modbus);
    FShell.SetConnected(false);
}

bool TFormModbus::FinishWritesThenStop() {
    const bool writeOnItsWay = FQueryOpen && IsWriteQuery(FCurrentQuery);
    if (!Modbus.Running() || (!writeOnItsWay && !FQueue.HasWrite()))
        return false;
    FQueue.KeepWrites();
    FFinishingWrites = true;
    FClosing = true;
    if (FQueue.Empty())
        Modbus.Stop();
    return true;
}

bool TFormModbus::MeteringAnswered(TMeteringBlock block) {
    // The answer to the metering read in progress counts once; its read is no gap.
    return FMeteringRead.Answer(block);
}

void TFormModbus::ModbusQueryFinish(TKrPolling& /*Sender*/) {
    FQueue.Clear();
    FInFlight.reset();
    FAdopted.reset();
    FFinishingWrites = false;
    FQueryOpen = false;
    FMeteringRead.Clear();
    FMeter->StopAsking();
    if (FShell.DisconnectRequested())
        FShell.SetConnected(false);
    if (Modbus.Opened()) {
        Modbus.Close();
        FShell.SetConnected(false);
    }
    FStatus.CycleEnded();
    FEvents.Raise([](IMeterEvents& e) { e.CycleEnded(); });
    // The rows of this connection are written under its meter, on CycleEnded; the next
    // connection may reach another meter.
    NewMeter(false);
    FMeterLine.reset();

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
    if (New.Baudrate > 0 && (Modbus.Baudrate() != New.Baudrate || Modbus.Parity() != New.Parity ||
                             Modbus.StopBits() != New.StopBits)) {
        Modbus.SetBaudrate(New.Baudrate);
        Modbus.SetParity(New.Parity);
        Modbus.SetStopBits(New.StopBits);
        // The meter switches its line after its answer has gone out; the next frame must not
        // reach it before.
        if (FAdoptWait > 0)
            Modbus.Clock().Sleep(FAdoptWait);
    }
    if (Line() != before)
        FAdopted.emplace(before, Line());
    // The same meter, moved by its own settings: what is known of it holds.
    if (FMeterLine)
        FMeterLine = Line();
    FMeter->MovedTo(Line());
    FShell.RefreshStatusAddress();
}

void TFormModbus::ModbusF01Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    if (MeteringAnswered(TMeteringBlock::Relays))
        FMeter->BitsRead(TMeteringBlock::Relays, Values);
}

void TFormModbus::ModbusF02Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    if (MeteringAnswered(TMeteringBlock::Inputs))
        FMeter->BitsRead(TMeteringBlock::Inputs, Values);
}

void TFormModbus::ModbusF03Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t StartAddr,
                                    std::span<const std::uint16_t> Values) {
    const bool metering = StartAddr == rbMeasurement || StartAddr == rbEnergy;
    const TMeteringBlock block =
        StartAddr == rbEnergy ? TMeteringBlock::Energy : TMeteringBlock::Measurement;
    if (metering && !MeteringAnswered(block))
        return;
    FMeter->RegistersRead(StartAddr, Values);
}

void TFormModbus::ModbusSendData(TKrPolling& /*Sender*/, const std::string& Data) {
    if (FObserver) {
        // Start and stop bits, 8 data bits, and the parity bit when there is one.
        const int bits = 10 + (Modbus.Parity() != TParity::None ? 1 : 0) +
                         (Modbus.StopBits() == TStopBits::_2 ? 1 : 0);
        FObserver->FrameSent(Data, {Modbus.Baudrate(), bits, Modbus.QueryInterval()});
    }
    FStatus.FrameSent(Data);
}

void TFormModbus::ModbusLineLost(TKrPolling& /*Sender*/) {
    FStatus.LineLost();
}

void TFormModbus::ModbusRecvData(TKrPolling& /*Sender*/, const std::string& Data) {
    if (FObserver)
        FObserver->DataReceived(Data);
    FStatus.DataReceived(Data);
}

void TFormModbus::ModbusResponseError(TKrModbus& /*Sender*/) {
    FStatus.ResponseError();
}

void TFormModbus::ModbusAfterResponse(TKrModbus& Sender) {
    if (FObserver)
        FObserver->QueryEnded({Sender.ErrorKind(), Sender.ExceptionCode(), Sender.Broadcast(),
                               Sender.CurrentRequest(), Sender.RecvBuffer()});
    FMeter->QueryEnded();
    FQueryOpen = false;
    // A metering read without its answer is a gap for those watching, never a repeated value.
    if (const auto lost = FMeteringRead.Unanswered())
        FMeter->MeteringLost(*lost);
    FMeteringRead.Clear();
    if (FInFlight)
        ReportQueryEnd(Sender);
    FStatus.QueryEnded(FQueue.Empty() && !PolledPage(FShell.ActivePage()));
}

void TFormModbus::ReportQueryEnd(TKrModbus& Sender) {
    const std::string text = std::move(FInFlight->first);
    const TLinkLine line = FInFlight->second;
    FInFlight.reset();
    TQueryOutcome outcome;
    switch (Sender.ErrorKind()) {
    case TKrModbus::ekNone:
        break;
    case TKrModbus::ekException:
        outcome = {TQueryResult::Exception, Sender.ExceptionCode()};
        break;
    case TKrModbus::ekNoResponse:
        outcome.Result = TQueryResult::NoAnswer;
        break;
    default:
        outcome.Result = TQueryResult::BadAnswer;
        break;
    }
    FEvents.Raise([&](IMeterEvents& e) { e.QueryFinished(text, line, outcome); });
    if (outcome.Result != TQueryResult::Answered)
        DropDependents(text);
    if (!IsWriteQuery(text))
        FStatus.ReadEnded(outcome.Result == TQueryResult::Answered);
    if (FAdopted) {
        const TLinkLine before = FAdopted->first;
        const TLinkLine after = FAdopted->second;
        FAdopted.reset();
        FEvents.Raise([&](IMeterEvents& e) { e.LineAdopted(before, after); });
    }
}

void TFormModbus::ModbusExceptionResponse(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                          int AExceptionCode) {
    FOverLimit.ExceptionAnswer(FCurrentQuery, AExceptionCode, FClosing);
}

void TFormModbus::ModbusLineError(TKrModbus& /*Sender*/, std::uint32_t EventMask) {
    if (FObserver)
        FObserver->LineErrors(EventMask);
}
