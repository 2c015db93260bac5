// The timed query cycle of a polling master: asks its derived class for a frame, sends it
// through its transport (the serial line of the TKrPollingPort it is, or another), collects the
// answer, waits out the intervals and time-outs (worked out by NextPollStep) on two single-shot
// timers of the thread that owns it, and hands the result back for processing.
#pragma once

#include "modbus/KrClock.h"
#include "modbus/KrPollPhase.h"
#include "modbus/KrPollingPort.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TKrPolling : public TKrPollingPort {
public:
    using TNotifyEvent = std::function<void(TKrPolling& Sender)>;
    // Data is a byte string: every char is one octet, zero bytes included.
    using TRxTxDataEvent = std::function<void(TKrPolling& Sender, const std::string& Data)>;

    // Must be created on the thread whose event loop runs the timers and the port's events.
    TKrPolling();
    ~TKrPolling() override;

    // Opens the port and resets the cycle.
    bool Open() override;
    // Cancels polling and closes the port.
    void Close() override;
    // Begins polling (false when the port is not open). While running only Continuous changes.
    bool Start(bool Continuous);
    // Polling ends after the query in progress, with OnQueryFinish.
    void Stop();
    // Polling ends at once, without OnQueryFinish. The gap timer is left running.
    void Cancel();

    bool Running() const { return FRunning; }

    // Closes the master and works through Transport from now on (nullptr: the serial line
    // again). The transport must outlive the master or be replaced before it goes.
    void SetTransport(IKrTransport* transport);

    int FrameInterval() const { return FFrameInterval; }
    void SetFrameInterval(int value) { FFrameInterval = value; }
    int QueryInterval() const { return FQueryInterval; }
    void SetQueryInterval(int value) { FQueryInterval = value; }
    int QueryTimeout() const { return FQueryTimeout; }
    void SetQueryTimeout(int value) { FQueryTimeout = value; }
    // Kept for the settings that carry it; the cycle does not use it.
    int PreviewTimeout() const { return FPreviewTimeout; }
    void SetPreviewTimeout(int value) { FPreviewTimeout = value; }

    // The clock of the cycle's timers and of the waits (the system clock unless set). Set it
    // before polling starts: timers still running on the old clock are dropped. The clock
    // must outlive the master.
    IKrClock& Clock() const { return *FClock; }
    void SetClock(IKrClock& clock);

    // State of the cycle, readable for diagnostics and tests.
    TPollPhase Phase() const { return FPhase; }
    bool InQuery() const { return FInQuery; }
    int SendTime() const { return FSendTime; }
    int FrameGap() const { return FFrameGap; }
    const std::string& QueryFrame() const { return FQueryFrame; }
    const std::string& RecvBuffer() const { return FRecvBuffer; }
    bool ResponseComplete() const { return FResponseComplete; }

    TRxTxDataEvent OnRecvData;
    TRxTxDataEvent OnSendData;
    TNotifyEvent OnQueryFinish;
    // The device under the open port is gone (an adapter pulled out): once per open period.
    // Polling goes on; its queries time out until the port is closed.
    TNotifyEvent OnLineLost;
    // The transport received something that is no answer (a broken header, a foreign unit);
    // the query goes on and times out unless its answer still comes.
    TRxTxDataEvent OnTransportFault;

protected:
    // Fills FQueryFrame and FFrameHead (and FBroadcast) for the next query.
    virtual void BuildQuery() = 0;
    virtual void CheckComplete() {}
    virtual void ProcessResponse() {}
    virtual void UpdateSendTime() { FSendTime = 0; }
    virtual void UpdateFrameGap() { FFrameGap = 0; }
    virtual void CommModemStateChange(std::uint32_t /*ModemEvent*/) {}
    virtual void CommReceiveData(const char* Buffer, std::uint16_t BufferLength);
    // A vanished device is left to the owner: the query then simply times out.
    virtual void CommRequestHangup();
    virtual void CommReceiveError(std::uint32_t /*EventMask*/) {}

    virtual void DoRecvData(const std::string& Data);
    virtual void DoSendData(const std::string& Data);
    virtual void DoQueryFinish();

    std::string FQueryFrame;
    std::string FRecvBuffer;
    char FFrameHead = 0;
    int FHeadPos = 0; // 1-based position of FFrameHead in FRecvBuffer, 0 while not found
    bool FAwaiting = false;
    bool FResponseComplete = false;
    bool FBroadcast = false;
    bool FNoResponse = false;
    char FNullQueryChar = 0;
    // A null query is dropped instead of sent (published by the Modbus master).
    bool FIgnoreNullQuery = false;
    int FSendTime = 0;
    int FFrameGap = 0;

private:
    void BindTransport();
    void UnbindTransport();
    void StartQuery();
    bool SendQuery(const std::string& Frame);
    void StepPhase();
    void FinishQuery();
    void ArmPhase(int ms);
    void PhaseTimerTick();
    void GapTimerTick();

    int FFrameInterval = 0;
    int FQueryInterval = 1000;
    int FQueryTimeout = 3000;
    int FPreviewTimeout = 0;

    bool FRunning = false;
    bool FContinuous = false;
    bool FInQuery = false;
    TPollPhase FPhase = TPollPhase::Idle;

    // Every query gets a new serial; a timer remembers the serial it was armed for, so that a
    // tick meant for a query that has ended cannot step or start the one that followed it.
    std::uint64_t FQuerySerial = 0;
    std::uint64_t FPhaseTimerSerial = 0;
    std::uint64_t FGapTimerSerial = 0;
    std::unique_ptr<IOneShotTimer> FPhaseTimer;
    std::unique_ptr<IOneShotTimer> FGapTimer;
};
