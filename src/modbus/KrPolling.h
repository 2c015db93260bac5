// The timed query cycle of a polling serial master: asks its derived class for a frame, sends it
// through its own TComm, collects the answer, waits out the intervals and time-outs on two
// single-shot timers of the thread that owns it, and hands the result back for processing.
#pragma once

#include "modbus/KrClock.h"
#include "serial/Comm.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Where a query stands in its cycle. A query steps through these in order; a step with nothing
// to wait for passes straight on to the next.
enum class TPollPhase : std::uint8_t {
    Idle,          // no query begun, or a step that no timer can reach
    SendTime,      // waiting out the frame's time on the line
    Sent,          // the frame is out
    QueryInterval, // waiting out the rest of the query interval
    ResponseCheck, // finished when the response is complete or none is awaited
    ResponseWait,  // waiting for the response until the time-out
    TimedOut,      // the time-out has passed
    Processing,    // the response is processed at the next timer tick
    Finished,      // processed; the next query or the end of polling follows
};

class TKrPolling {
public:
    using TNotifyEvent = std::function<void(TKrPolling& Sender)>;
    // Data is a byte string: every char is one octet, zero bytes included.
    using TRxTxDataEvent = std::function<void(TKrPolling& Sender, const std::string& Data)>;

    // Must be created on the thread whose event loop runs the timers and the port's events.
    TKrPolling();
    virtual ~TKrPolling();
    TKrPolling(const TKrPolling&) = delete;
    TKrPolling& operator=(const TKrPolling&) = delete;

    // Opens the port and resets the cycle; false when the port cannot be opened (the reason is
    // kept in OpenErrorText / OpenSystemError).
    virtual bool Open();
    virtual void Close();
    // Closes and opens the port again after ReopenWait ms; false when not open or the open failed.
    virtual bool Reopen();
    // Begins polling (false when the port is not open). While running only Continuous changes.
    bool Start(bool Continuous);
    // Polling ends after the query in progress, with OnQueryFinish.
    void Stop();
    // Polling ends at once, without OnQueryFinish. The gap timer is left running.
    void Cancel();

    bool Opened() const { return FOpened; }
    bool Running() const { return FRunning; }

    int FrameInterval() const { return FFrameInterval; }
    void SetFrameInterval(int value) { FFrameInterval = value; }
    int QueryInterval() const { return FQueryInterval; }
    void SetQueryInterval(int value) { FQueryInterval = value; }
    int QueryTimeout() const { return FQueryTimeout; }
    void SetQueryTimeout(int value) { FQueryTimeout = value; }
    // Kept for the settings that carry it; the cycle does not use it.
    int PreviewTimeout() const { return FPreviewTimeout; }
    void SetPreviewTimeout(int value) { FPreviewTimeout = value; }

    std::uint16_t PortNum() const;
    void SetPortNum(std::uint16_t value);
    int Baudrate() const;
    void SetBaudrate(int value);
    std::uint16_t DataBits() const;
    void SetDataBits(std::uint16_t value);
    TParity Parity() const { return FComm.Parity(); }
    // Virtual: the Modbus master turns the parity check on with any parity.
    virtual void SetParity(TParity value) { FComm.SetParity(value); }
    TStopBits StopBits() const { return FComm.StopBits(); }
    void SetStopBits(TStopBits value) { FComm.SetStopBits(value); }
    bool RtsCtsFlow() const;
    void SetRtsCtsFlow(bool value);

    // The pause Reopen makes between closing and opening; tests shorten it.
    int ReopenWait() const { return FReopenWait; }
    void SetReopenWait(int value) { FReopenWait = value; }

    // The clock of the cycle's timers and of the waits (the system clock unless set). Set it
    // before polling starts: timers still running on the old clock are dropped. The clock
    // must outlive the master.
    IKrClock& Clock() const { return *FClock; }
    void SetClock(IKrClock& clock);

    // Why the last Open failed: the port's message and errno (0 if none); empty after success.
    const std::string& OpenErrorText() const { return FOpenErrorText; }
    int OpenSystemError() const { return FOpenSystemError; }

    // The port itself, for a device path that is not a COM name and for tests.
    TComm& Comm() { return FComm; }
    const TComm& Comm() const { return FComm; }

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

    TComm FComm;
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
    void StartQuery();
    bool SendQuery(const std::string& Frame);
    void StepPhase();
    void Finish();
    void FinishQuery();
    void ArmPhase(int ms);
    void PhaseTimerTick();
    void GapTimerTick();

    int FFrameInterval = 0;
    int FQueryInterval = 1000;
    int FQueryTimeout = 3000;
    int FPreviewTimeout = 0;
    int FReopenWait = 500;

    bool FOpened = false;
    bool FRunning = false;
    bool FContinuous = false;
    bool FInQuery = false;
    TPollPhase FPhase = TPollPhase::Idle;
    TRtsControl FSavedRtsControl = TRtsControl::RtsEnable;
    std::string FOpenErrorText;
    int FOpenSystemError = 0;

    // Every query gets a new serial; a timer remembers the serial it was armed for, so that a
    // tick meant for a query that has ended cannot step or start the one that followed it.
    std::uint64_t FQuerySerial = 0;
    std::uint64_t FPhaseTimerSerial = 0;
    std::uint64_t FGapTimerSerial = 0;
    IKrClock* FClock = &SystemClock();
    std::unique_ptr<IOneShotTimer> FPhaseTimer;
    std::unique_ptr<IOneShotTimer> FGapTimer;
};
