// The journal of every write the utility sends to a meter: one entry per write (and per change
// of line settings the utility adopts), kept as one JSON object per line, and shown or exported
// as CSV.
#pragma once

#include "commissioning/WriteDescription.h"
#include "link/LinkListener.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

struct TJournalEntry {
    QDateTime Time;
    QString Port; // "COM1"
    int Baudrate = 0;
    QString Parity;   // "None", "Even", "Odd"
    int StopBits = 1; // 1 or 2 (1.5 written as 1.5 in the text)
    int Address = 0;
    std::optional<QString> SerialNumber;
    QString SoftwareVersion;
    TWriteDescription Write;
    QString Query;   // the query text as queued, "00" for the address
    QString Outcome; // "accepted", "exception", "no answer", "bad answer"
    int ExceptionCode = 0;
    bool operator==(const TJournalEntry&) const = default;
};

// ISO 8601 with the offset from UTC the time carries (local time for the clock's times), to
// the millisecond: "2026-12-07T14:03:12.345+01:00".
QString IsoTime(const QDateTime& time);

// A line's parity and stop bits as the journal and the report write them: "None", "Even";
// "1", "1.5", "2".
QString ParityName(TParity parity);
QString StopBitsName(TStopBits stopBits);

// The outcome word of a query result.
QString OutcomeText(TQueryResult result);

// The entry of a write that went out on `line`.
TJournalEntry MakeJournalEntry(const QDateTime& time, const TLinkLine& line,
                               const TWriteDescription& write, const std::string& query,
                               const TQueryOutcome& outcome);

// One line of the journal: the entry as one compact JSON object and a line feed.
QByteArray JournalLine(const TJournalEntry& entry);
// An entry back from its line; nothing for a line that is not one (a torn last line).
std::optional<TJournalEntry> ParseJournalLine(const QByteArray& line);

// The entries of a whole journal file, oldest first, skipping lines that are not entries.
std::vector<TJournalEntry> ParseJournal(const QByteArray& bytes);

// The entries as CSV (RFC 4180, CR LF): a heading and one row per entry, the changes as
// "item: before -> after" joined by "; ".
QString JournalCsv(const std::vector<TJournalEntry>& entries);

// "Relay 1: OFF -> ON"; "?" for a value before that the utility did not know.
QString ChangeText(const TWriteChange& change);
