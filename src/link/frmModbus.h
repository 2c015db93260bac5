// The meter link: the application's one model of the connected meter. It owns the Modbus
// master, chooses every query (one-shot queries first, then the metering rotation), follows
// the meter's software version, turns responses into what the pages show and counts the
// traffic. The decisions live in the pure units it calls; this class only coordinates.
#pragma once

#include "link/LinkListener.h"
#include "link/LinkViews.h"
#include "meter/MeterFacts.h"
#include "meter/MeteringObserver.h"
#include "meter/QueryPlan.h"
#include "meter/RegisterDecode.h"
#include "meter/Scaling.h"
#include "link/TrafficObserver.h"
#include "link/TrafficStats.h"
#include "modbus/KrModbus.h"
#include "widgets/Dialogs.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TFormModbus {
public:
    // Line settings a settings write asks the link to adopt once the meter has confirmed it.
    struct TLineChange {
        std::uint8_t DeviceAddress = 0;
        int Baudrate = 0;
        TParity Parity = TParity::None;
        TStopBits StopBits = TStopBits::_1;
    };
    struct TPendingQuery {
        std::string Text;
        // Set on the write of block 0x1100 of a settings sequence: becomes the link's pending
        // line settings when that write is sent, so each sequence adopts its own values.
        std::optional<TLineChange> LineChange;
        // The write this one was computed from: it is dropped, not sent, when that write is
        // refused or not answered. Empty for none.
        std::string Needs;
    };

    TFormModbus(ILinkShell& shell, IDialogs& dialogs);
    ~TFormModbus();
    TFormModbus(const TFormModbus&) = delete;
    TFormModbus& operator=(const TFormModbus&) = delete;

    // The pages, once they exist; any of them may be absent.
    void SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo, ISettingsView* settings);
    // Followers of the traffic, told in the order they were added; each stays until removed.
    void AddListener(ILinkListener* listener);
    void RemoveListener(ILinkListener* listener);
    // The line the next query goes out on.
    TLinkLine Line() const;
    // A query is on the line and its end not yet handled.
    bool QueryInFlight() const { return FInFlight.has_value(); }

    TKrModbus Modbus;

    // Queues the reads of the page shown; false (and nothing queued) while offline.
    bool RequestPageData();
    // Write commands of the pages enabled exactly while the shell is online.
    void UpdateCommandStates();
    // Clean-up after the query cycle has stopped; also called by the shell when a disconnect
    // is requested while no cycle runs.
    void ModbusQueryFinish(TKrPolling& Sender);

    // Another port. A cycle that the change of port cuts short still ends as a disconnect
    // does: its query counts as failed, the queue is dropped and the shell goes offline.
    void SetPortNum(std::uint16_t port);

    // Closing: the writes of confirmed commands that are still waiting go out, each within
    // its time-out, the reads queued between them are dropped, and then the cycle ends and
    // the port closes as after Disconnect. False when no write is waiting or on its way, or
    // no cycle runs: nothing to wait for.
    bool FinishWritesThenStop();
    // The program is closing: FinishWritesThenStop has taken over the cycle.
    bool Closing() const { return FClosing; }

    // One-shot queries, sent first in first out before any polling query. A write that was
    // computed from an earlier queued write names it in `needs`.
    void AppendQuery(std::string text, std::string needs = {});
    const std::deque<TPendingQuery>& PendingQueries() const { return FPendingQueries; }
    std::vector<std::string> PendingTexts() const;

    // The settings page's pending line settings. They travel with the 0x1100 write queued last
    // (parity and stop bits left out keep the values asked for before); without such a write
    // in the queue they become the pending values at once.
    void SetNewLineSettings(std::uint8_t deviceAddress, int baudrate, std::optional<TParity> parity,
                            std::optional<TStopBits> stopBits);
    std::uint8_t NewDeviceAddress() const { return FNew.DeviceAddress; }
    int NewBaudrate() const { return FNew.Baudrate; }
    TParity NewParity() const { return FNew.Parity; }
    TStopBits NewStopBits() const { return FNew.StopBits; }

    std::uint8_t DeviceAddress() const { return FDeviceAddress; }
    // Another address is another meter: its identity, serial number and ratios are not known
    // yet, and while connected they are asked for at once. So is another port or line setting
    // (unless a settings write moved the meter there), and a disconnect forgets them too.
    void SetDeviceAddress(std::uint8_t value);
    const QString& SoftwareVersion() const { return FSoftwareVersion; }
    void SetSoftwareVersion(const QString& value) { FSoftwareVersion = value; }
    const TScaling& Scaling() const { return FScaling; }
    // Whether this connection has read the meter's identity and its ratios; until then the
    // software version and the ratios are those of an earlier read, or the defaults.
    bool IdentityKnown() const { return FFacts.IdentityKnown(); }
    bool RatiosKnown() const { return FFacts.RatiosKnown(); }
    double PTRatio() const { return FScaling.PTRatio; }
    double CTRatio() const { return FScaling.CTRatio; }
    double LastPT2() const { return FRatios.LastPT2; }
    double LastCT2() const { return FRatios.LastCT2; }
    std::int32_t AOType() const { return FScaling.AOType; }
    int PollStep() const { return FRotation.Step(); }
    void SetPollStep(int value) { FRotation.SetStep(value); }

    std::uint64_t SentCount() const { return FTraffic.SentCount(); }
    std::uint64_t ErrorCount() const { return FTraffic.ErrorCount(); }
    // The connection dialog restarts the statistics when the device address changes.
    void ResetCounts() { FTraffic.Reset(); }
    // Who else hears of the traffic (the communication statistics); none by default.
    void SetTrafficObserver(ITrafficObserver* observer) { FObserver = observer; }
    // Names the likely cause of the line's state (the communication statistics' verdict).
    // While the reads go unanswered, the transmit panel shows it instead of the frames.
    void SetFailureCause(std::function<QString()> cause) { FFailureCause = std::move(cause); }
    // The last read ended without a valid answer.
    bool ReadsFailing() const { return FReadsFailing; }

    // How long the link blocks after adopting new line settings, so the meter can switch
    // over before the next frame. It sleeps on the master's clock, which tests replace.
    int AdoptWait() const { return FAdoptWait; }
    void SetAdoptWait(int ms) { FAdoptWait = ms; }

    // Watchers of the metering reads (trend chart, recorder); each is told once per answer or
    // loss. The observer must stay alive until it is removed.
    void AddMeteringObserver(IMeteringObserver* observer);
    void RemoveMeteringObserver(IMeteringObserver* observer);
    // The serial number read from the meter now connected; empty before it is read, and again
    // after Disconnect or a change of the device address.
    const QString& SerialNumber() const { return FSerialNumber; }

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
    // The traffic panels: the last frames, or the notice that the port's device is gone.
    void ShowTraffic();

private:
    void DecodeIdentityBlock(std::span<const std::uint16_t> values);
    void DecodeSettings(std::uint16_t start, std::span<const std::uint16_t> values);
    void AdaptPages();
    void ShowOverLimitBoxes();
    void NotifyAnswer(TMeteringBlock block, std::span<const std::uint16_t> values);
    void NotifyBits(TMeteringBlock block, std::span<const bool> bits);
    void ForgetMeter();
    void DropDependents(const std::string& failed);

    template <typename F> void Notify(F&& call);

    ILinkShell& FShell;
    IDialogs& FDialogs;
    IMeteringView* FMetering = nullptr;
    IDeviceInfoView* FDeviceInfo = nullptr;
    ISettingsView* FSettings = nullptr;

    TScaling FScaling;
    TRatioState FRatios;
    TMeterFacts FFacts;
    // The query of this turn as handed to the master (placeholder address), and whether its
    // outcome is still to come.
    std::string FCurrentQuery;
    bool FQueryOpen = false;
    // Closing: only the queued writes still go out.
    bool FFinishingWrites = false;
    bool FClosing = false;
    // The line whose meter the version, serial number and ratios were read from.
    std::optional<TLinkLine> FMeterLine;
    std::uint8_t FDeviceAddress = 1;
    QString FSoftwareVersion;
    TPollRotation FRotation;
    std::deque<TPendingQuery> FPendingQueries;
    TTrafficStats FTraffic;
    ITrafficObserver* FObserver = nullptr;
    TLineChange FNew;
    // The line settings asked for last, queued or not: the base for fields a sequence leaves.
    TLineChange FLastAsked;
    int FAdoptWait = 2000;
    QString FSerialNumber;
    std::vector<IMeteringObserver*> FObservers;
    // The metering block the query in progress reads, and whether its answer came.
    std::optional<TMeteringBlock> FMeteringRead;
    bool FMeteringAnswered = false;

    std::vector<ILinkListener*> FListeners;
    // The query on the line, with the line it went out on, until its answer has been handled.
    std::optional<std::pair<std::string, TLinkLine>> FInFlight;
    // A switch of line settings made while handling the answer in flight.
    std::optional<std::pair<TLinkLine, TLinkLine>> FAdopted;

    // The "over limit" box is shown from the event loop, never from inside a master event:
    // its modal loop would otherwise run the master's timers while the master is still
    // dispatching, and the cycle would re-enter itself.
    int FOverLimitPending = 0;
    bool FShowingBox = false;
    // The device under the open port has gone; cleared when the cycle ends.
    bool FLineLost = false;
    std::function<QString()> FFailureCause;
    bool FReadsFailing = false;
    QObject FDeferContext;
};
