// Writes the journal entry of every write the link sends, and of every change of line settings
// it adopts, with the values the meter held before. A write's entry "sent" goes to the disk
// before the write goes on the line, and the entry of its outcome after it: a crash leaves a
// record of every write that may have reached the meter. An outcome's entry waits for the meter's
// serial number when that is not known yet: the recorder asks for it once per connection and writes
// the entry when the answer (or its failure) is in.
#pragma once

#include "commissioning/JournalFile.h"
#include "commissioning/MeterMemory.h"
#include "commissioning/SafeWrites.h"
#include "commissioning/WriteJournal.h"
#include "meter/MeterEvents.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TJournalRecorder : public IMeterEvents {
public:
    TJournalRecorder(const TMeterMemory& memory, TJournalFile& file);

    // The clock of the entries.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    // Queues a read on the link (the serial number block); unset, entries never wait.
    std::function<void(const std::string&)> Ask;
    // An entry that did not reach the file.
    std::function<void(const QString& error)> OnFailure;

    // IMeterEvents
    void QueryStarting(const std::string& text, const TLinkLine& line) override;
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override;
    void BlockRead(const TMeterModel& meter, std::uint16_t start,
                   std::span<const std::uint16_t> values) override;
    void LineAdopted(const TLinkLine& before, const TLinkLine& after) override;
    void CycleEnded() override;

    // Completes a settings sequence: the entry that names each setting the operator is told
    // about with its result, on the line of the sequence's last write.
    void RecordVerification(const TVerification& verification);

    // Asks for the meter's serial number, once per connection, when it is not known.
    void EnsureSerialNumber();

    // The entries written since the program started, oldest first; a write's entry "sent" until
    // its outcome's entry takes its place.
    const std::vector<TJournalEntry>& Session() const { return FSession; }

private:
    void Record(TJournalEntry entry);
    void WriteWaiting();
    void Write(TJournalEntry entry);

    const TMeterMemory& FMemory;
    TJournalFile& FFile;
    // The write on the line: its text, the entry "sent" and what it changes, as described
    // before it went out.
    struct TOnTheLine {
        std::string Text;
        QString Id;
        TWriteDescription Write;
    };
    std::optional<TOnTheLine> FOnTheLine;
    TLinkLine FLastLine; // of the last write that went out
    QString FSessionTag;
    std::uint64_t FCount = 0;
    std::vector<TJournalEntry> FWaiting;
    bool FSerialAsked = false;
    std::vector<TJournalEntry> FSession;
};
