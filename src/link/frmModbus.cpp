#include "link/frmModbus.h"

#include "meter/QueryAddress.h"
#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"

#include <QDateTime>

#include <algorithm>

namespace {

// The write of settings block 0x1100 as the settings page builds it.
bool IsGeneralSettingsWrite(const std::string& text) {
    return text.rfind(FindSettingsBlock(sbGeneral)->WriteHead, 0) == 0;
}

} // namespace

TFormModbus::TFormModbus(ILinkShell& shell, IDialogs& dialogs)
    : FShell(shell), FOverLimit(dialogs) {
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
    FPendingQueries.push_back(TPendingQuery{std::move(text), std::nullopt, std::move(needs)});
}

void TFormModbus::DropDependents(const std::string& failed) {
    // The writes computed from the failed one, and from those; a later queued copy of the
    // failed write is a fresh attempt, and what follows it is left.
    std::vector<std::string> gone{failed};
    std::vector<std::string> dropped;
    for (auto it = FPendingQueries.begin(); it != FPendingQueries.end();) {
        if (it->Text == failed)
            break;
        if (!it->Needs.empty() && std::find(gone.begin(), gone.end(), it->Needs) != gone.end()) {
            gone.push_back(it->Text);
            dropped.push_back(it->Text);
            it = FPendingQueries.erase(it);
        } else {
            ++it;
        }
    }
    if (!dropped.empty())
        FEvents.Raise([&](IMeterEvents& e) { e.QueriesDropped(dropped); });
}

std::vector<std::string> TFormModbus::PendingTexts() const {
    std::vector<std::string> texts;
    texts.reserve(FPendingQueries.size());
    for (const TPendingQuery& q : FPendingQueries)
        texts.push_back(q.Text);
    return texts;
}

void TFormModbus::SetNewLineSettings(std::uint8_t deviceAddress, int baudrate,
                                     std::optional<TParity> parity,
                                     std::optional<TStopBits> stopBits) {
    TLineChange change = FLastAsked;
    change.DeviceAddress = deviceAddress;
    change.Baudrate = baudrate;
    if (parity)
        change.Parity = *parity;
    if (stopBits)
        change.StopBits = *stopBits;
    FLastAsked = change;
    for (auto it = FPendingQueries.rbegin(); it != FPendingQueries.rend(); ++it) {
        if (IsGeneralSettingsWrite(it->Text)) {
            it->LineChange = change;
            return;
        }
    }
    FNew = change;
}

void TFormModbus::SetDeviceAddress(std::uint8_t value) {
    if (value == FDeviceAddress)
        return;
    FDeviceAddress = value;
    NewMeter(FShell.Connected());
}

void TFormModbus::ModbusQueryData(TKrModbus& Sender, std::string& FmtData) {
    if (FFinishingWrites) {
        // Reads queued since closing began are dropped as well.
        std::erase_if(FPendingQueries,
                      [](const TPendingQuery& q) { return !IsWriteQuery(q.Text); });
    }
    // Another port or line setting than the meter's facts were read on: another meter may
    // answer.
    if (FMeterLine && *FMeterLine != Line())
        NewMeter(true);
    FMeterLine = Line();
    std::string query;
    if (!FPendingQueries.empty()) {
        TPendingQuery next = std::move(FPendingQueries.front());
        FPendingQueries.pop_front();
        if (next.LineChange)
            FNew = *next.LineChange;
        query = std::move(next.Text);
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
    if (FFinishingWrites && FPendingQueries.empty())
        Sender.Stop();
    FMeter->QueryStarted(query);
    FTraffic.QueryStarted();
    FQueryOpen = !query.empty();
    FMeteringRead = query.empty() ? std::nullopt : MeteringBlockOfQuery(query);
    FMeteringAnswered = false;

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
        FTraffic.QueryAbandoned();
    FQueryOpen = false;
    if (const auto text = FTraffic.AfterResponse())
        FShell.SetStatusText(3, *text);
    ModbusQueryFinish(Modbus);
    FShell.SetConnected(false);
}

bool TFormModbus::FinishWritesThenStop() {
    const auto isWrite = [](const TPendingQuery& q) { return IsWriteQuery(q.Text); };
    const bool writeOnItsWay = FQueryOpen && IsWriteQuery(FCurrentQuery);
    if (!Modbus.Running() ||
        (!writeOnItsWay && std::none_of(FPendingQueries.begin(), FPendingQueries.end(), isWrite)))
        return false;
    std::erase_if(FPendingQueries, [&](const TPendingQuery& q) { return !isWrite(q); });
    FFinishingWrites = true;
    FClosing = true;
    if (FPendingQueries.empty())
        Modbus.Stop();
    return true;
}

bool TFormModbus::MeteringAnswered(TMeteringBlock block) {
    // The answer to the metering read in progress counts once; its read is no gap.
    if (FMeteringRead != block)
        return true;
    if (FMeteringAnswered)
        return false;
    FMeteringAnswered = true;
    return true;
}

void TFormModbus::ModbusQueryFinish(TKrPolling& /*Sender*/) {
    FLineLost = false;
    FReadsFailing = false;
    FPendingQueries.clear();
    FInFlight.reset();
    FAdopted.reset();
    FFinishingWrites = false;
    FQueryOpen = false;
    FMeteringRead.reset();
    FMeter->StopAsking();
    if (FShell.DisconnectRequested())
        FShell.SetConnected(false);
    if (Modbus.Opened()) {
        Modbus.Close();
        FShell.SetConnected(false);
    }
    FTraffic.ClearTraffic();
    FShell.SetStatusText(1, QString());
    FShell.SetStatusText(2, QString());
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
    FMeter->RatiosWritten();
    // Address 0 is the broadcast address, never a meter's own: a write that did not come
    // from a settings sequence has nothing to adopt.
    if (FNew.DeviceAddress != 0)
        FDeviceAddress = FNew.DeviceAddress;
    if (FNew.Baudrate > 0 &&
        (Modbus.Baudrate() != FNew.Baudrate || Modbus.Parity() != FNew.Parity ||
         Modbus.StopBits() != FNew.StopBits)) {
        Modbus.SetBaudrate(FNew.Baudrate);
        Modbus.SetParity(FNew.Parity);
        Modbus.SetStopBits(FNew.StopBits);
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
    FTraffic.FrameSent(Data);
    ShowTraffic();
}

void TFormModbus::ShowTraffic() {
    // While the port's device is gone, the frames go nowhere, and while the reads go
    // unanswered the frames tell the operator little: the first panel says why.
    if (FLineLost)
        FShell.SetStatusText(1, QString::fromLatin1(cstMain::PortGone)
                                    .arg(QStringLiteral("COM%1").arg(Modbus.PortNum())));
    else if (FReadsFailing && FFailureCause)
        FShell.SetStatusText(1, QString::fromLatin1(cstMain::ReadsFailing).arg(FFailureCause()));
    else
        FShell.SetStatusText(1, FTraffic.TxText());
    FShell.SetStatusText(2, FTraffic.RxText());
}

void TFormModbus::ModbusLineLost(TKrPolling& /*Sender*/) {
    FLineLost = true;
    ShowTraffic();
}

void TFormModbus::ModbusRecvData(TKrPolling& /*Sender*/, const std::string& Data) {
    if (FObserver)
        FObserver->DataReceived(Data);
    FTraffic.DataReceived(Data);
    FShell.SetStatusText(2, FTraffic.RxText());
}

void TFormModbus::ModbusResponseError(TKrModbus& /*Sender*/) {
    FTraffic.ResponseError();
}

void TFormModbus::ModbusAfterResponse(TKrModbus& Sender) {
    if (FObserver)
        FObserver->QueryEnded({Sender.ErrorKind(), Sender.ExceptionCode(), Sender.Broadcast(),
                               Sender.CurrentRequest(), Sender.RecvBuffer()});
    FMeter->QueryEnded();
    FQueryOpen = false;
    // A metering read without its answer is a gap for those watching, never a repeated value.
    if (FMeteringRead && !FMeteringAnswered)
        FMeter->MeteringLost(*FMeteringRead);
    FMeteringRead.reset();
    if (FInFlight)
        ReportQueryEnd(Sender);
    if (FPendingQueries.empty() && !PolledPage(FShell.ActivePage())) {
        FTraffic.ClearTraffic();
        ShowTraffic();
    }
    if (const auto text = FTraffic.AfterResponse())
        FShell.SetStatusText(3, *text);
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
    if (!IsWriteQuery(text) && FReadsFailing != (outcome.Result != TQueryResult::Answered)) {
        FReadsFailing = !FReadsFailing;
        ShowTraffic();
    }
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
