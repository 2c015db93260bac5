// Serves the meter on a terminal until a signal or the request limit ends the run.
#pragma once

#include "FaultInjector.h"
#include "FrameAssembler.h"
#include "MeterModel.h"
#include "Options.h"
#include "SlaveProtocol.h"
#include "Statistics.h"
#include "Terminal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace kt580sim {

class TServer {
public:
    TServer(const TOptions& options, TMeterModel& meter, TTerminal& terminal, std::FILE* log);

    // Runs until `stop` is set (by a signal handler) or the request limit is reached.
    // Returns false after a fatal line error (the device vanished).
    bool Run(const volatile std::sig_atomic_t& stop);

    // Another meter on the same line: it answers its own address with its own identity, at the
    // first meter's line settings. It must outlive the server.
    void AddMeter(TMeterModel& meter) { FOthers.push_back(&meter); }

    const TStatistics& Statistics() const { return FStats; }
    std::array<uint64_t, FaultKinds> FaultCounts() const;

    // Persists the meter's memory now (if a state file is in use).
    void SaveState();

private:
    using TClock = std::chrono::steady_clock;

    void HandleFrame(const std::string& frame, TClock::time_point lastByte);
    // The request came at another line speed than the meter's (logged and counted).
    bool LineMismatch(const std::string& frame);
    // The reply of the meter the request is addressed to.
    TReply Dispatch(const std::string& frame) const;
    // Carries out the answer to a request: counts it, loses it or sends it, faults and all.
    void Answer(const std::string& frame, const TReply& reply, TClock::time_point lastByte);
    // --mute-function: the request's function is one whose answers are never sent.
    bool LoseFunction(const std::string& frame) const;
    void LogSent(const std::vector<TPiece>& pieces,
                 const std::array<uint64_t, FaultKinds>& faultsBefore);
    // Address and line settings the meter has been told to change to.
    void FollowMeterSettings();
    // --requests: as many requests were served as asked.
    bool RequestsDone() const;
    // The silence that ends a frame, as a duration.
    TClock::duration Silence() const;
    // How long to wait for a byte: until the pending frame's silence ends, else a second.
    timespec WaitTime(const TFrameAssembler& assembler, TClock::time_point lastByte) const;
    // Reads what the line has and serves the frames complete in it.
    void ReadLine(TFrameAssembler& assembler, TClock::time_point& lastByte);
    void LineHungUp();
    // Serves the frames the silence since the last byte completed.
    void EndFramesAfterSilence(TFrameAssembler& assembler, TClock::time_point lastByte);
    // --busy: the request came too soon after the last answer.
    bool Busy(TClock::time_point lastByte) const;
    // --answer-any-address: the request as if it were addressed to this meter.
    std::string AsAddressed(const std::string& frame) const;
    // Whether the answer to this request is one chosen to be lost (and takes it off the list).
    bool LoseAnswer(const std::string& frame);
    // Sends the pieces after the turnaround (--delay, or the answering meter's own).
    void Send(const std::vector<TPiece>& pieces, TClock::time_point lastByte,
              std::optional<int> turnaroundMs = std::nullopt);
    void AdvanceMeterTime();
    void Log(const char* direction, const std::string& bytes, const std::string& note = {});
    double SilenceSeconds() const;

    const TOptions& FOptions;
    TMeterModel& FMeter;
    TTerminal& FTerminal;
    std::FILE* FLog;
    TFaultInjector FFaults;
    TStatistics FStats;
    uint8_t FAddress;
    uint32_t FBaudrate;
    TMeterParity FParity;
    TClock::time_point FLastAdvance;
    TClock::time_point FLastSave;
    // When the last answer went out, for --busy.
    std::optional<TClock::time_point> FLastAnswer;
    uint64_t FSavedGeneration = 0;
    std::vector<uint16_t> FLoseAnswers;
    bool FFatal = false;
    std::vector<TMeterModel*> FOthers;
};

} // namespace kt580sim
