// Drives a Modbus master through the queries of kt580-query: hands it the texts round after
// round, turns each finished query into one line and keeps the totals.
#pragma once

#include "QueryOptions.h"
#include "modbus/KrModbus.h"

#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

    // The totals of the run; with a list of meters, a line per meter ahead of them.
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

    // What the queries to one meter (or to all of them) came to.
    struct TCounts {
        unsigned long long Sent = 0, Ok = 0, Errors = 0, Exceptions = 0;
        std::string Text() const;
    };
    // The counts of the meter the query in progress asks: all of them with one address.
    TCounts* MeterCounts();

    TKrModbus& FMaster;
    bool FTrace;
    TPrint FPrint;
    QElapsedTimer FClock;
    std::vector<std::string> FTexts;
    // With a list of meters: the address each text goes to, and the counts per address.
    std::vector<std::uint8_t> FTextAddress;
    std::vector<std::pair<std::uint8_t, TCounts>> FMeters;
    std::size_t FCurrentIndex = 0;
    unsigned long long FNext = 0;
    unsigned long long FTotal = 0; // 0: until stopped
    unsigned long long FFinished = 0;
    TCounts FAll;
    std::string FCurrentText;
    std::string FOutcome;
    bool FOutcomeOk = false;
    bool FDone = false;
    bool FOutputLost = false;
};
