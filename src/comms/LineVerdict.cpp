#include "comms/LineVerdict.h"

#include "comms/FrameDecode.h"

#include <optional>

namespace {

// Fewer queries than this say nothing yet.
constexpr int MinQueries = 3;
// Enough queries at the present interval to judge it.
constexpr std::uint64_t CleanIntervalQueries = 10;
// Time-outs at a shorter interval that count as a pattern, not an accident: at least this
// many, at least a tenth of its queries, and four times the rate at the present interval.
constexpr std::uint64_t PatternTimeouts = 3;
constexpr double PatternRate = 0.10;
constexpr double CuredFactor = 4;
// The time-out rate an interval may keep and still count as cured (a stray time-out).
constexpr double StrayRate = 0.05;
// Answers with stray bytes ahead of them that point at the line, not at chance.
constexpr int StrayAnswers = 3;

TLineVerdict Make(TVerdictKind kind, QString text) {
    return TLineVerdict{kind, std::move(text)};
}

double Rate(const TIntervalTally& t) {
    return t.Queries == 0 ? 0 : static_cast<double>(t.NoResponse) / static_cast<double>(t.Queries);
}

TLineVerdict Garbled(const TLineSummary& s) {
    if (s.ParityErrors > 0)
        return Make(TVerdictKind::Garbled,
                    QStringLiteral("Bytes arrive but every frame is garbled, with parity errors "
                                   "on the line. Set the parity and stop bits the meter uses."));
    if (s.FramingErrors > 0)
        return Make(TVerdictKind::Garbled,
                    QStringLiteral("Bytes arrive but every frame is garbled, with framing errors "
                                   "on the line. Check the baud rate and the stop bits."));
    return Make(TVerdictKind::Garbled,
                QStringLiteral("Bytes arrive but every frame is garbled. Check the baud rate "
                               "and parity against the meter's, the termination at both ends "
                               "of the bus, and the cable's screen against noise."));
}

// The meter refuses what it is asked: which refusal, and what to look at.
std::optional<TLineVerdict> Refusal(const TLineSummary& s) {
    if (s.Exception02 > 0)
        return Make(
            TVerdictKind::Exception02,
            QStringLiteral("The meter answers exception 02 (Illegal data address): it lacks "
                           "a register asked for. Check that the meter's software version "
                           "has this page or value."));
    if (s.Exception04 > 0)
        return Make(TVerdictKind::Exception04,
                    QStringLiteral("The meter answers exception 04: it refused a value. Check the "
                                   "value written against the meter's limits and its wiring "
                                   "mode."));
    if (s.OtherExceptions > 0)
        return Make(TVerdictKind::OtherException,
                    QStringLiteral("The meter answers exception %1 (%2). Check the request against "
                                   "the meter's register map.")
                        .arg(s.LastOtherException, 2, 10, QLatin1Char('0'))
                        .arg(ExceptionName(s.LastOtherException)));
    return std::nullopt;
}

} // namespace

int TimeoutsCuredBelow(const std::map<int, TIntervalTally>& bySetting, int now) {
    const auto at = bySetting.find(now);
    if (at == bySetting.end() || at->second.Queries < CleanIntervalQueries ||
        Rate(at->second) > StrayRate)
        return -1;
    const double rateNow = Rate(at->second);
    int found = -1;
    for (const auto& [setting, tally] : bySetting)
        if (setting < now && tally.NoResponse >= PatternTimeouts && Rate(tally) >= PatternRate &&
            Rate(tally) >= CuredFactor * rateNow)
            found = setting;
    return found;
}

TLineVerdict JudgeLine(const TLineSummary& s) {
    if (s.Queries < MinQueries)
        return Make(TVerdictKind::Waiting,
                    QStringLiteral("Not enough queries yet to judge the line."));
    if (s.Answered == 0 && s.BytesReceived == 0 && s.NoResponse == s.Queries)
        return Make(TVerdictKind::NoBytes,
                    QStringLiteral("Nothing comes back at all. Check the wiring (A and B swapped?) "
                                   "and the adapter, the device address, the baud rate, and that "
                                   "Modbus is switched on in the meter."));
    if (s.OtherAddress > 0 && s.OtherAddress >= s.Answered)
        return Make(TVerdictKind::OtherAddress,
                    QStringLiteral("Answers come from address %1, not from the address asked. Set "
                                   "the device address to %1, or look for two devices sharing an "
                                   "address.")
                        .arg(s.ForeignAddress));
    if (s.Answered == 0 && s.BadFrame + s.Mismatch > 0 && s.BytesReceived > 0)
        return Garbled(s);
    if (const auto refusal = Refusal(s))
        return *refusal;
    if (const int shorter = TimeoutsCuredBelow(s.ByInterval, s.QueryInterval); shorter >= 0)
        return Make(TVerdictKind::IntervalTimeouts,
                    QStringLiteral("Time-outs stopped when the scan interval grew from %1 ms to "
                                   "%2 ms: the meter needs time between queries. Keep the scan "
                                   "interval at %2 ms or more.")
                        .arg(shorter)
                        .arg(s.QueryInterval));
    if (s.StrayBytes >= StrayAnswers)
        return Make(TVerdictKind::StrayBytes,
                    QStringLiteral("%1 of the last %2 answers came after bytes that belong to no "
                                   "answer: noise on the line, or a second master on the bus. "
                                   "Check the termination and the cable's screen, and that no "
                                   "other master polls this line.")
                        .arg(s.StrayBytes)
                        .arg(s.Answered));
    const int failed = s.Queries - s.Answered;
    if (failed > 0)
        return Make(TVerdictKind::Intermittent,
                    QStringLiteral("%1 of the last %2 queries failed (%3 without answer, %4 "
                                   "garbled). Check the termination and the cable against noise; "
                                   "if only answers are missing, try a longer scan interval.")
                        .arg(failed)
                        .arg(s.Queries)
                        .arg(s.NoResponse)
                        .arg(s.BadFrame + s.Mismatch));
    return Make(TVerdictKind::Healthy,
                QStringLiteral("The line is healthy: every recent query was answered."));
}
