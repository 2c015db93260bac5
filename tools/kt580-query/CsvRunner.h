// kt580-query --csv: records the metering reads to CSV files as the utility's Trend page does,
// for runs on a headless PC. It reads the meter's identity, serial number, transformer ratios
// and output type once, then polls the metering rotation and writes one row per cycle through
// the same recorder.
#pragma once

#include "QueryOptions.h"
#include "meter/MeterModel.h"
#include "meter/MeteringReadProgress.h"
#include "modbus/KrModbus.h"
#include "trend/Recorder.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

class TCsvRunner {
public:
    // Binds the master's events; the master must outlive the runner.
    TCsvRunner(TKrModbus& master, const TQueryOptions& options);

    // Begins polling on the open master; false (reason in Error()) when it cannot start.
    bool Begin();
    void RequestStop();
    void Abort();
    bool Done() const { return FDone; }
    std::function<void()> OnDone;

    TRecorder& Recorder() { return FRecorder; }
    const QString& Error() const { return FError; }
    std::string Totals() const;
    // 0 when the recording ran and ended without a file error.
    int ExitCode() const;

private:
    void StartRecording(const TQueryOptions& options);
    // The next query text to send, with the address put in.
    std::string PrepareQuery();
    std::string NextQuery();
    // A read answered: the meter model takes it in (identity, serial number, ratios, output
    // type, a metering block for the recorder).
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values);
    // After each query: asks a lost preamble read again, counts a lost block, stops after
    // the cycles asked.
    void AfterResponse(TKrModbus& sender);
    void Finish();

    TKrModbus& FMaster;
    std::uint8_t FAddress;
    long long FCycles; // 0: until stopped
    long long FCyclesSent = 0;
    TMeterEventStream FEvents;
    TMeterModel FMeter;
    TRecorder FRecorder;
    std::vector<std::string> FPreamble;
    std::size_t FPreambleAt = 0;
    bool FInPreamble = false;
    bool FPreambleAnswered = false;
    int FPreambleTries = 0;
    int FStep = 0;
    std::string FCurrent;
    TMeteringReadProgress FMeteringRead;
    bool FDone = false;
    QString FError;
    unsigned long long FSent = 0, FLost = 0;
};
