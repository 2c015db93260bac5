// Drives a Modbus master through the queries of kt580-query: hands it the texts round after
// round, turns each finished query into one line and keeps the totals.
#pragma once

#include "QueryOptions.h"
#include "modbus/KrModbus.h"

#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <string>

class TQueryRunner {
public:
    // False when the line could not be written (the output pipe closed, say).
    using TPrint = std::function<bool(const std::string& line)>;

    // Binds the master's events; the master must outlive the runner.
    TQueryRunner(TKrModbus& master, const TQueryOptions& options, TPrint print);

    // Begins polling on the open master; false when it cannot start.
    bool Begin();
    // Ends after the query in progress (an interrupt).
    void RequestStop();
    // Ends at once, the query in progress unfinished (a second interrupt, lost output).
    void Abort();
    // A line could not be printed; the runner has aborted.
    bool OutputLost() const { return FOutputLost; }
    bool Done() const { return FDone; }
    // Called once when the last query has finished.
    std::function<void()> OnDone;

    std::string Totals() const;
    // 0 when every query got a valid response.
    int ExitCode() const;

private:
    // Hands out the query texts, counts and traces the frames, ends the run.
    void BindPolling();
    // Answers that carry a list: bits, registers, file records.
    void BindListAnswers();
    // Answers that carry one value, a count, a text or a status.
    void BindSingleAnswers();
    void Outcome(std::string text, bool ok);
    void Print(const std::string& line);
    void Trace(const char* direction, const std::string& bytes);
    void AfterResponse(TKrModbus& sender);

    TKrModbus& FMaster;
    bool FTrace;
    TPrint FPrint;
    QElapsedTimer FClock;
    std::vector<std::string> FTexts;
    unsigned long long FNext = 0;
    unsigned long long FTotal = 0; // 0: until stopped
    unsigned long long FFinished = 0;
    unsigned long long FSent = 0, FOk = 0, FErrors = 0, FExceptions = 0;
    std::string FCurrentText;
    std::string FOutcome;
    bool FOutcomeOk = false;
    bool FDone = false;
    bool FOutputLost = false;
};
