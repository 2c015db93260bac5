// kt580-query --csv: records the metering reads to CSV files as the utility's Trend page does,
// for runs on a headless PC. It reads each meter's identity, serial number, transformer ratios
// and output type once, then polls the metering rotation and writes one row per cycle through
// the same recorder. With a list of meters it goes round them, a whole rotation of one meter
// after the other, and each meter records to its own file, named by its serial number.
#pragma once

#include "QueryOptions.h"
#include "meter/MeterModel.h"
#include "meter/MeteringReadProgress.h"
#include "modbus/KrModbus.h"
#include "trend/Recorder.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The file one meter of a list records to: the chosen name with the meter's serial number put
// before its extension ("run.csv" -> "run-KT58001.csv"), characters a file name should not hold
// replaced by '_'; "run-address7.csv" for a meter whose serial number is not known.
QString MeterRecordPath(const QString& chosen, const QString& serial, int address);

class TCsvRunner {
public:
    // Binds the master's events; the master must outlive the runner.
    TCsvRunner(TKrModbus& master, const TQueryOptions& options);
    ~TCsvRunner();
    TCsvRunner(const TCsvRunner&) = delete;
    TCsvRunner& operator=(const TCsvRunner&) = delete;

    // Begins polling on the open master; false (reason in Error()) when it cannot start.
    bool Begin();
    void RequestStop();
    void Abort();
    bool Done() const { return FDone; }
    std::function<void()> OnDone;

    // Why the recording ended early or recorded nothing, or, with a list, why a meter was left.
    const QString& Error() const { return FError; }
    // The totals; with a list of meters, a line per meter ahead of them.
    std::string Totals() const;
    // 0 when the recording ran and ended without a file error and every meter has rows.
    int ExitCode() const;

private:
    struct TMeterRun;

    void StartRecording(TMeterRun& meter);
    // The next query text to send, with the address put in.
    std::string PrepareQuery();
    std::string NextQuery();
    // The meter the next rotation or preamble query goes to; nothing when none is left.
    TMeterRun* CurrentMeter();
    // A meter whose ratios never came is left out of the run (the run ends when none is left).
    void LeaveOut(TMeterRun& meter);
    // A read answered: the meter model takes it in (identity, serial number, ratios, output
    // type, a metering block for the recorder).
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values);
    // After each query: asks a lost preamble read again, counts a lost block, stops after
    // the cycles asked.
    void AfterResponse(TKrModbus& sender);
    bool AllCyclesSent() const;
    void Finish();

    TKrModbus& FMaster;
    TQueryOptions FOptions;
    long long FCycles; // 0: until stopped
    std::vector<std::unique_ptr<TMeterRun>> FMeters;
    std::size_t FAt = 0; // the meter asked now
    TMeterRun* FAsked = nullptr;
    std::vector<std::string> FPreamble;
    bool FInPreamble = false;
    bool FPreambleAnswered = false;
    std::string FCurrent;
    TMeteringReadProgress FMeteringRead;
    bool FDone = false;
    QString FError;
    unsigned long long FSent = 0, FLost = 0;
};
