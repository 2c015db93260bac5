#include "link/frmModbus.h"

#include "meter/QueryAddress.h"
#include "meter/cstMain.h"
#include "meter/SettingsBlocks.h"

#include <QTimer>

#include <algorithm>

namespace {

// The write of settings block 0x1100 as the settings page builds it.
bool IsGeneralSettingsWrite(const std::string& text) {
    return text.rfind(FindSettingsBlock(sbGeneral)->WriteHead, 0) == 0;
}

} // namespace

TFormModbus::TFormModbus(ILinkShell& shell, IDialogs& dialogs) : FShell(shell), FDialogs(dialogs) {
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
}

TFormModbus::~TFormModbus() {
    // The master's events point back here; nothing may reach this object while the master
    // closes its port.
    Modbus.OnQueryFinish = nullptr;
    Modbus.Close();
}

void TFormModbus::SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo,
                           ISettingsView* settings) {
    FMetering = metering;
    FDeviceInfo = deviceInfo;
    FSettings = settings;
}

void TFormModbus::AddListener(ILinkListener* listener) {
    if (listener && std::find(FListeners.begin(), FListeners.end(), listener) == FListeners.end())
        FListeners.push_back(listener);
}

void TFormModbus::RemoveListener(ILinkListener* listener) {
    std::erase(FListeners, listener);
}

TLinkLine TFormModbus::Line() const {
    return TLinkLine{Modbus.PortNum(), Modbus.Baudrate(), Modbus.Parity(), Modbus.StopBits(),
                     FDeviceAddress};
}

template <typename F> void TFormModbus::Notify(F&& call) {
    // A copy: a listener may remove itself while it is told.
    const std::vector<ILinkListener*> listeners = FListeners;
    for (ILinkListener* listener : listeners)
        call(*listener);
}

bool TFormModbus::RequestPageData() {
    if (!FShell.IsOnline())
        return false;
    for (std::string& read : PageReads(FShell.ActivePage(), FSoftwareVersion))
        AppendQuery(std::move(read));
    FRotation.Restart();
    return true;
}

void TFormModbus::UpdateCommandStates() {
    const bool online = FShell.IsOnline();
    if (FMetering)
        FMetering->SetCommandsEnabled(online);
    if (FSettings)
        FSettings->SetUpdateEnabled(online);
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
        Notify([&](ILinkListener& l) { l.QueriesDropped(dropped); });
}

void TFormModbus::ForgetMeter() {
    FSoftwareVersion.clear();
    FSerialNumber.clear();
    FScaling = TScaling{};
    FRatios = TRatioState{};
    FMeterLine = Line();
    // The page shows nothing of the meter until the one now reached is read.
    if (FDeviceInfo)
        for (const auto field : {IDeviceInfoView::fDevType, IDeviceInfoView::fHardVersion,
                                 IDeviceInfoView::fSoftVersion, IDeviceInfoView::fReleaseDate,
                                 IDeviceInfoView::fSerialNo, IDeviceInfoView::fAOType})
            FDeviceInfo->SetFieldText(field, QString());
    Notify([](ILinkListener& l) { l.MeterChanged(); });
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
    ForgetMeter();
    if (FShell.Connected())
        FFacts.AskAgain();
    else
        FFacts.Forget();
}

void TFormModbus::ModbusQueryData(TKrModbus& Sender, std::string& FmtData) {
    if (FFinishingWrites) {
        // Reads queued since closing began are dropped as well.
        std::erase_if(FPendingQueries,
                      [](const TPendingQuery& q) { return !IsWriteQuery(q.Text); });
    }
    // Another port or line setting than the meter's facts were read on: another meter may
    // answer.
    if (FMeterLine && *FMeterLine != Line()) {
        ForgetMeter();
        FFacts.AskAgain();
    }
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
    } else if (const char* missing = FFacts.MissingRead()) {
        query = missing;
    } else if (const char* polled = FRotation.Next(FShell.ActivePage(), FSoftwareVersion)) {
        query = polled;
    }
    // The last write is on its way: the cycle ends with its outcome.
    if (FFinishingWrites && FPendingQueries.empty())
        Sender.Stop();
    FFacts.QueryStarted(query);
    FTraffic.QueryStarted();
    FQueryOpen = !query.empty();
    FMeteringRead = query.empty() ? std::nullopt : MeteringBlockOfQuery(query);
    FMeteringAnswered = false;

    if (query.empty()) {
        FInFlight.reset();
    } else {
        FInFlight.emplace(query, Line());
        Notify([&](ILinkListener& l) { l.QueryStarting(query, FInFlight->second); });
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

void TFormModbus::AddMeteringObserver(IMeteringObserver* observer) {
    if (observer && std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TFormModbus::RemoveMeteringObserver(IMeteringObserver* observer) {
    std::erase(FObservers, observer);
}

void TFormModbus::NotifyBits(TMeteringBlock block, std::span<const bool> bits) {
    if (FMeteringRead != block || FObservers.empty())
        return;
    std::vector<std::uint16_t> values(bits.begin(), bits.end());
    NotifyAnswer(block, values);
}

void TFormModbus::NotifyAnswer(TMeteringBlock block, std::span<const std::uint16_t> values) {
    // Only the answer to the read in progress counts, once.
    if (FMeteringRead != block || FMeteringAnswered)
        return;
    FMeteringAnswered = true;
    // Values scaled by ratios the meter now connected has not answered are left out.
    TScaling scaling = FScaling;
    scaling.RatiosKnown = FFacts.RatiosKnown();
    for (IMeteringObserver* o : std::vector(FObservers))
        o->MeteringAnswer(block, values, scaling);
}

void TFormModbus::ModbusQueryFinish(TKrPolling& /*Sender*/) {
    FLineLost = false;
    FReadsFailing = false;
    FPendingQueries.clear();
    FInFlight.reset();
    FAdopted.reset();
    FFacts.Forget();
    FFinishingWrites = false;
    FQueryOpen = false;
    FMeteringRead.reset();
    for (IMeteringObserver* o : std::vector(FObservers))
        o->MeteringStopped();
    // The rows of this connection are written under its meter; the next connection may reach
    // another meter.
    ForgetMeter();
    FMeterLine.reset();
    if (FShell.DisconnectRequested())
        FShell.SetConnected(false);
    if (Modbus.Opened()) {
        Modbus.Close();
        FShell.SetConnected(false);
    }
    FTraffic.ClearTraffic();
    FShell.SetStatusText(1, QString());
    FShell.SetStatusText(2, QString());
    Notify([](ILinkListener& l) { l.CycleEnded(); });

    if (FObserver)
        FObserver->PollingEnded();
}

void TFormModbus::ModbusF10Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t StartAddr, std::uint16_t /*DataCount*/) {
    if (StartAddr != sbGeneral)
        return;
    const TLinkLine before = Line();
    FFacts.RatiosWritten();
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
    FShell.RefreshStatusAddress();
}

void TFormModbus::ModbusF01Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    NotifyBits(TMeteringBlock::Relays, Values);

    Notify([Values](ILinkListener& l) { l.CoilsRead(Values); });
    if (!FMetering)
        return;
    for (int i = 0; i < RelayCount && static_cast<std::size_t>(i) < Values.size(); ++i)
        FMetering->SetRelayState(i, Values[i]);
}

void TFormModbus::ModbusF02Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t /*StartAddr*/, std::span<const bool> Values) {
    NotifyBits(TMeteringBlock::Inputs, Values);
    if (!FMetering)
        return;
    for (int i = 0; i < InputCount && static_cast<std::size_t>(i) < Values.size(); ++i)
        FMetering->SetInputState(i, Values[i]);
}

void TFormModbus::ModbusF03Response(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                    std::uint16_t StartAddr,
                                    std::span<const std::uint16_t> Values) {
    Notify([StartAddr, Values](ILinkListener& l) { l.RegistersRead(StartAddr, Values); });
    switch (StartAddr) {
    case rbMeasurement:
        NotifyAnswer(TMeteringBlock::Measurement, Values);
        if (FMetering) {
            const auto texts = MeasurementTexts(FScaling, Values, FFacts.RatiosKnown());
            for (int i = 0; i < MeasurementCount; ++i)
                if (static_cast<std::size_t>(i) < Values.size())
                    FMetering->SetMeasurementText(i, texts[i]);
        }
        break;
    case rbEnergy:
        NotifyAnswer(TMeteringBlock::Energy, Values);
        if (FMetering) {
            std::array<QString, EnergyCount> texts;
            const int filled = EnergyTexts(Values, texts);
            for (int i = 0; i < filled; ++i)
                FMetering->SetEnergyText(i, texts[i]);
        }
        break;
    case rbIdentity:
        DecodeIdentityBlock(Values);
        FFacts.BlockRead(StartAddr);
        break;
    case rbSerialNumber:
        FSerialNumber = DecodeSerialNumber(Values);
        if (FDeviceInfo)
            FDeviceInfo->SetFieldText(IDeviceInfoView::fSerialNo, FSerialNumber);
        break;
    case rbAOType:
        if (!Values.empty()) {
            FScaling.AOType = Values[0];
            if (FDeviceInfo)
                FDeviceInfo->SetFieldText(IDeviceInfoView::fAOType, AOTypeText(FScaling.AOType));
        }
        break;
    case sbGeneral:
        DecodeSettings(StartAddr, Values);
        UpdateRatios(Values, FRatios, FScaling);
        FFacts.BlockRead(StartAddr);
        break;
    case sbAlarm:
    case sbDigitalOutput:
    case sbRelay2Alarm:
    case sbAnalogOutput:
        DecodeSettings(StartAddr, Values);
        break;
    default:
        break;
    }
}

void TFormModbus::DecodeIdentityBlock(std::span<const std::uint16_t> values) {
    const TIdentity id = DecodeIdentity(values);
    FSoftwareVersion = id.SoftVersion;
    if (FDeviceInfo) {
        FDeviceInfo->SetFieldText(IDeviceInfoView::fDevType, id.DevType);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fHardVersion, id.HardVersion);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fSoftVersion, id.SoftVersion);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fReleaseDate, id.ReleaseDate);
    }
    AdaptPages();
}

void TFormModbus::AdaptPages() {
    const TPageAdaptation a = AdaptationFor(FSoftwareVersion);
    if (FSettings)
        FSettings->ShowLayout(a);
    if (FMetering)
        FMetering->ShowExtendedEnergy(!a.HideExtendedEnergy);
}

void TFormModbus::DecodeSettings(std::uint16_t start, std::span<const std::uint16_t> values) {
    if (!FSettings)
        return;
    TMeterSettings record = FSettings->Settings();
    if (DecodeSettingsBlock(start, values, record, FScaling))
        FSettings->SetSettings(record);
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
    FFacts.QueryEnded();
    FQueryOpen = false;
    // A metering read without its answer is a gap for those watching, never a repeated value.
    if (FMeteringRead && !FMeteringAnswered)
        for (IMeteringObserver* o : std::vector(FObservers))
            o->MeteringLost(*FMeteringRead);
    FMeteringRead.reset();
    if (FInFlight) {
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
        Notify([&](ILinkListener& l) { l.QueryFinished(text, line, outcome); });
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
            Notify([&](ILinkListener& l) { l.LineAdopted(before, after); });
        }
    }
    if (FPendingQueries.empty() && !PolledPage(FShell.ActivePage())) {
        FTraffic.ClearTraffic();
        ShowTraffic();
    }
    if (const auto text = FTraffic.AfterResponse())
        FShell.SetStatusText(3, *text);
}

void TFormModbus::ModbusExceptionResponse(TKrModbus& /*Sender*/, std::uint8_t /*Slave*/,
                                          int AExceptionCode) {
    // "Over limit" answers a write whose values the meter refused; a meter that refuses its
    // reads this way has no write of the operator's to report, however often it is polled.
    // A closing program does not wait for the operator; the journal keeps the refusal.
    if (AExceptionCode != 4 || !IsWriteQuery(FCurrentQuery) || FClosing)
        return;
    ++FOverLimitPending;
    QTimer::singleShot(0, &FDeferContext, [this] { ShowOverLimitBoxes(); });
}

void TFormModbus::ShowOverLimitBoxes() {
    // A box already open shows the ones that arrived meanwhile when it is closed.
    if (FShowingBox)
        return;
    FShowingBox = true;
    while (FOverLimitPending > 0) {
        --FOverLimitPending;
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionConfirm),
                            QString::fromLatin1(cstMain::OverLimit), IDialogs::NoIcon,
                            IDialogs::Ok);
    }
    FShowingBox = false;
}

void TFormModbus::ModbusLineError(TKrModbus& /*Sender*/, std::uint32_t EventMask) {
    if (FObserver)
        FObserver->LineErrors(EventMask);
}
