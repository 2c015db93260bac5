// The journal of every write the utility sends to a meter: one entry per write (and per change
// of line settings the utility adopts), kept as one JSON object per line, and shown or exported
// as CSV.
#pragma once

#include "commissioning/WriteDescription.h"
#include "meter/MeterEvents.h"

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
    QString Query;   // the query text as it went out, with the meter's address
    QString Outcome; // "sent", "accepted", "exception", "no answer", "bad answer"
    int ExceptionCode = 0;
    // Pairs the entry written before a write went out ("sent") with the one of its outcome;
    // empty for an entry that stands alone (a line change, a journal of an older version).
    QString Id;
    bool operator==(const TJournalEntry&) const = default;
};

// ISO 8601 with the offset from UTC the time carries (local time for the clock's times), to
// the millisecond: "2026-12-07T14:03:12.345+01:00".
QString IsoTime(const QDateTime& time);

// A line's parity and stop bits as the journal and the report write them: "None", "Even";
// "1", "1.5", "2".
QString ParityName(TParity parity);
QString StopBitsName(TStopBits stopBits);
// A line setting as the windows spell it: "19200 bps, None1" (parity and stop bits as the
// Connection Settings dialog names them; stop bits added only where its names do not say them).
QString LineSettingText(std::uint32_t baudrate, TParity parity, TStopBits stopBits);
// A time as the windows show it: local, to the second ("2026-03-01 14:05:09"). Files keep
// IsoTime.
QString DisplayTime(const QDateTime& time);

// The outcome word of a query result.
QString OutcomeText(TQueryResult result);

// The outcome of an entry written before its write went on the line.
inline constexpr const char* JournalSent = "sent";
// The kind of the entry that completes a settings sequence once its read-backs are in: each
// setting the operator's box names, with its result; its outcome is "verified" when every changed
// setting was read back as confirmed, else "not all verified".
inline constexpr const char* JournalVerification = "settings verification";

// The entry of a write that went out on `line`; the query text is given as queued, with "00"
// for the address, and the entry holds it with the line's address.
TJournalEntry MakeJournalEntry(const QDateTime& time, const TLinkLine& line,
                               const TWriteDescription& write, const std::string& query,
                               const TQueryOutcome& outcome);

// One line of the journal: the entry as one compact JSON object and a line feed.
QByteArray JournalLine(const TJournalEntry& entry);
// An entry back from its line; nothing for a line that is not one (a torn last line).
std::optional<TJournalEntry> ParseJournalLine(const QByteArray& line);

// The entries of a whole journal file, oldest first, skipping lines that are not entries: an
// entry "sent" and the entry of its outcome are one entry, the outcome's, in the place of the
// "sent" one; a "sent" entry without its outcome stays as it is.
std::vector<TJournalEntry> ParseJournal(const QByteArray& bytes);
// The same, with the number of lines that are not entries.
struct TJournalRead {
    std::vector<TJournalEntry> Entries;
    int Broken = 0;
};
TJournalRead ReadJournal(const QByteArray& bytes);

// The entries as CSV (RFC 4180, CR LF): a heading and one row per entry, the changes as
// "item: before -> after" joined by "; ".
QString JournalCsv(const std::vector<TJournalEntry>& entries);

// The heading line of the CSV and the row of one entry, each with its CR LF.
QString JournalCsvHeading();
QString JournalCsvRow(const TJournalEntry& entry);

// One CSV field: quoted where it holds a comma, a quote or a line break, and led by an
// apostrophe where a spreadsheet would take it for a formula (it starts with "=", "+", "-",
// "@", a tab or a carriage return), whatever the text came from.
QString CsvCell(QString text);

// The outcome as the window and the export show it ("exception 04", "sent, no outcome
// recorded").
QString OutcomeShown(const TJournalEntry& entry);
// The outcome as the commissioning report words it ("exception 4", "sent, outcome unknown").
QString ReportOutcome(const TJournalEntry& entry);

// "Relay 1: OFF -> ON"; "?" for a value before that the utility did not know; a settings
// sequence's result follows, "Baud rate: 9600 -> 19200 (verified)", "CT: 5 -> 10 (not as written,
// the meter holds 5)".
QString ChangeText(const TWriteChange& change);
