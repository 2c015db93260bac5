#include "commissioning/JournalRecorder.h"

#include "meter/QueryPlan.h"
#include "meter/RegisterDecode.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

QString LineText(const TLinkLine& line) {
    return LineSettingText(line.Baudrate, line.Parity, line.StopBits);
}

} // namespace

TJournalRecorder::TJournalRecorder(const TMeterMemory& memory, TJournalFile& file)
    : FMemory(memory), FFile(file),
      // Ids pair the two entries of a write within this journal, across runs of the program.
      FSessionTag(QString::number(QRandomGenerator::system()->generate64(), 36)) {}

void TJournalRecorder::QueryStarting(const std::string& text, const TLinkLine& line) {
    FOnTheLine.reset();
    auto write = DescribeWrite(text, FMemory);
    if (!write)
        return;
    TJournalEntry entry = MakeJournalEntry(Now(), line, *write, text, TQueryOutcome{});
    entry.Outcome = QString::fromLatin1(JournalSent);
    entry.Id = QStringLiteral("%1-%2").arg(FSessionTag).arg(++FCount);
    entry.SoftwareVersion = FMemory.SoftwareVersion();
    // Never waits for the serial number: the record must be on the disk before the frame.
    entry.SerialNumber = FMemory.SerialNumber();
    FOnTheLine = TOnTheLine{text, entry.Id, std::move(*write)};
    FLastLine = line;
    QString error;
    if (!FFile.Append(JournalLine(entry), error) && OnFailure)
        OnFailure(error);
    FSession.push_back(std::move(entry));
}

void TJournalRecorder::QueryFinished(const std::string& text, const TLinkLine& line,
                                     const TQueryOutcome& outcome) {
    std::optional<TOnTheLine> sent;
    if (FOnTheLine && FOnTheLine->Text == text)
        sent.swap(FOnTheLine);
    FOnTheLine.reset();
    if (text == qry::SerialNumber && !FWaiting.empty() &&
        outcome.Result != TQueryResult::Answered) {
        // The number stays unknown; the entries go in without it rather than not at all.
        WriteWaiting();
        return;
    }
    // What the write changes as it was before it went out, when it was described then.
    const auto write = sent ? std::optional(sent->Write) : DescribeWrite(text, FMemory);
    if (!write)
        return;
    TJournalEntry entry = MakeJournalEntry(Now(), line, *write, text, outcome);
    if (sent)
        entry.Id = sent->Id;
    Record(std::move(entry));
}

void TJournalRecorder::RecordVerification(const TVerification& v) {
    // The box's first line, without its closing colon or full stop.
    QString headline = v.Text.section(QLatin1Char('\n'), 0, 0);
    if (headline.endsWith(QLatin1Char(':')) || headline.endsWith(QLatin1Char('.')))
        headline.chop(1);
    const TWriteDescription d{QString::fromLatin1(JournalVerification), headline, v.Settings};
    TJournalEntry entry = MakeJournalEntry(Now(), FLastLine, d, std::string(), TQueryOutcome{});
    entry.Outcome = v.AllVerified ? QStringLiteral("verified") : QStringLiteral("not all verified");
    Record(std::move(entry));
}

void TJournalRecorder::LineAdopted(const TLinkLine& before, const TLinkLine& after) {
    TWriteDescription d{QStringLiteral("line settings"),
                        QStringLiteral("The utility follows the meter's new line settings"),
                        {}};
    if (before.Address != after.Address)
        d.Changes.push_back({QStringLiteral("Address"), QString::number(before.Address),
                             QString::number(after.Address)});
    if (before.Baudrate != after.Baudrate || before.Parity != after.Parity ||
        before.StopBits != after.StopBits)
        d.Changes.push_back({QStringLiteral("Line"), LineText(before), LineText(after)});
    Record(MakeJournalEntry(Now(), after, d, std::string(), TQueryOutcome{}));
}

void TJournalRecorder::Record(TJournalEntry entry) {
    entry.SoftwareVersion = FMemory.SoftwareVersion();
    if (FMemory.SerialNumber()) {
        entry.SerialNumber = FMemory.SerialNumber();
        Write(std::move(entry));
        return;
    }
    FWaiting.push_back(std::move(entry));
    if (!Ask) {
        WriteWaiting();
        return;
    }
    EnsureSerialNumber();
}

void TJournalRecorder::EnsureSerialNumber() {
    if (FMemory.SerialNumber() || FSerialAsked || !Ask)
        return;
    FSerialAsked = true;
    Ask(qry::SerialNumber);
}

void TJournalRecorder::BlockRead(const TMeterModel& /*meter*/, std::uint16_t start,
                                 std::span<const std::uint16_t> /*values*/) {
    if (start == rbSerialNumber)
        WriteWaiting();
}

void TJournalRecorder::CycleEnded() {
    WriteWaiting();
    FSerialAsked = false;
}

void TJournalRecorder::WriteWaiting() {
    std::vector<TJournalEntry> waiting;
    waiting.swap(FWaiting);
    for (TJournalEntry& e : waiting) {
        e.SerialNumber = FMemory.SerialNumber();
        Write(std::move(e));
    }
}

void TJournalRecorder::Write(TJournalEntry entry) {
    QString error;
    if (!FFile.Append(JournalLine(entry), error) && OnFailure)
        OnFailure(error);
    // The outcome takes the place of its write's entry "sent".
    const auto sent = std::find_if(FSession.rbegin(), FSession.rend(), [&](const TJournalEntry& e) {
        return !entry.Id.isEmpty() && e.Id == entry.Id && e.Outcome == QLatin1String(JournalSent);
    });
    if (sent != FSession.rend())
        *sent = std::move(entry);
    else
        FSession.push_back(std::move(entry));
}
