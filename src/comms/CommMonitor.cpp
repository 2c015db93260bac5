#include "comms/CommMonitor.h"

#include "comms/FrameDecode.h"
#include "serial/LineEvents.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>

#include <memory>

namespace {

// Distinct scan intervals remembered for the verdict; an operator tries a handful.
constexpr std::size_t MaxIntervals = 32;

TFrameOutcome Classify(const ITrafficObserver::TQueryEnd& end, int& foreign) {
    foreign = 0;
    if (end.Broadcast)
        return TFrameOutcome::Broadcast;
    switch (end.ErrorKind) {
    case 0:
        return TFrameOutcome::Answered;
    case 1:
        return TFrameOutcome::NoResponse;
    case 4:
        return TFrameOutcome::Exception;
    default:
        if (const auto address = ForeignAnswerAddress(end.Received, end.Request)) {
            foreign = *address;
            return TFrameOutcome::OtherAddress;
        }
        return end.ErrorKind == 3 ? TFrameOutcome::Mismatch : TFrameOutcome::BadFrame;
    }
}

} // namespace

TCommMonitor::TClock TCommMonitor::SystemClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return {[timer] { return timer->nsecsElapsed() / 1000; },
            [] { return QDateTime::currentMSecsSinceEpoch(); }};
}

TCommMonitor::TCommMonitor(TClock clock, std::size_t logCapacity)
    : FClock(std::move(clock)), FLog(logCapacity) {}

void TCommMonitor::Reset() {
    FCounters = TCommCounters{};
    FTimes.Reset();
    FLoad.Reset();
    FRecent.clear();
    FByInterval.clear();
    FInQuery = false;
}

void TCommMonitor::FrameSent(const std::string& frame, const TLineShape& line) {
    if (FFreshStart) {
        FFreshStart = false;
        Reset();
    }
    const std::int64_t now = FClock.SteadyUs();
    FPending = TPending{};
    FPending.SentUs = now;
    FPending.QueryInterval = line.QueryInterval;
    FPending.IntervalChanged = FCounters.Sent > 0 && line.QueryInterval != FQueryInterval;
    if (line.Baudrate > 0)
        FPending.RequestUs = static_cast<std::int64_t>(frame.size()) * line.BitsPerCharacter *
                             1000000 / line.Baudrate;
    FInQuery = true;
    FQueryInterval = line.QueryInterval;
    FBaudrate = line.Baudrate;
    ++FCounters.Sent;
    FCounters.BytesSent += frame.size();
    FLoad.QuerySent(now, frame.size(), line.BitsPerCharacter, line.Baudrate);
    FLog.Add(TLogEntry{0, FClock.WallMs(), TLogEntry::Tx, frame, {}, TFrameOutcome::Answered});
}

void TCommMonitor::DataReceived(const std::string& data) {
    FCounters.BytesReceived += data.size();
    if (!FInQuery)
        return;
    FPending.LastByteUs = FClock.SteadyUs();
    FPending.LastByteWallMs = FClock.WallMs();
    FLoad.AnswerBytes(data.size());
}

void TCommMonitor::LineErrors(std::uint32_t flags) {
    FCounters.CountLineErrors(flags);
    if (FInQuery)
        FPending.LineErrors |= flags;
}

void TCommMonitor::QueryEnded(const TQueryEnd& end) {
    // A query that sent nothing (a null query) has nothing to count.
    if (!FInQuery)
        return;
    FInQuery = false;
    int foreign = 0;
    const TFrameOutcome outcome = Classify(end, foreign);
    FCounters.Count(outcome, end.ExceptionCode);
    if ((outcome == TFrameOutcome::Answered || outcome == TFrameOutcome::Exception) &&
        FPending.LastByteUs > 0) {
        const std::int64_t requestEnd = FPending.SentUs + FPending.RequestUs;
        FTimes.Add(std::max<std::int64_t>(FPending.LastByteUs - requestEnd, 0));
    }
    if (outcome != TFrameOutcome::Broadcast) {
        const bool stray =
            outcome == TFrameOutcome::Answered && StrayBytesBefore(end.Received, end.Request) > 0;
        FRecent.push_back(
            {outcome, end.ExceptionCode, end.Received.size(), FPending.LineErrors, foreign, stray});
        while (FRecent.size() > RecentQueries)
            FRecent.pop_front();
        if (!FPending.IntervalChanged) {
            if (FByInterval.size() >= MaxIntervals && !FByInterval.contains(FPending.QueryInterval))
                FByInterval.clear();
            std::deque<bool>& recent = FByInterval[FPending.QueryInterval];
            recent.push_back(outcome == TFrameOutcome::NoResponse);
            while (recent.size() > RecentPerInterval)
                recent.pop_front();
        }
        const std::int64_t when = end.Received.empty() ? FClock.WallMs() : FPending.LastByteWallMs;
        FLog.Add(TLogEntry{0, when, TLogEntry::Rx, end.Received, end.Request, outcome});
    }
}

void TCommMonitor::PollingEnded() {
    FInQuery = false;
    FFreshStart = true;
}

TLineSummary TCommMonitor::Summary() const {
    TLineSummary s;
    s.QueryInterval = FQueryInterval;
    for (const auto& [interval, recent] : FByInterval)
        s.ByInterval[interval] = {recent.size(), static_cast<std::uint64_t>(std::count(
                                                     recent.begin(), recent.end(), true))};
    for (const TRecent& r : FRecent) {
        ++s.Queries;
        s.StrayBytes += r.StrayBytes ? 1 : 0;
        s.BytesReceived += r.BytesReceived;
        if (r.LineErrors & LineEvents::ErrParity)
            ++s.ParityErrors;
        if (r.LineErrors & LineEvents::ErrFrame)
            ++s.FramingErrors;
        if (r.LineErrors & LineEvents::ErrOverrun)
            ++s.OverrunErrors;
        switch (r.Outcome) {
        case TFrameOutcome::Answered:
            ++s.Answered;
            break;
        case TFrameOutcome::NoResponse:
            ++s.NoResponse;
            break;
        case TFrameOutcome::BadFrame:
            ++s.BadFrame;
            break;
        case TFrameOutcome::Mismatch:
            ++s.Mismatch;
            break;
        case TFrameOutcome::OtherAddress:
            ++s.OtherAddress;
            s.ForeignAddress = r.ForeignAddress;
            break;
        case TFrameOutcome::Exception:
            if (r.ExceptionCode == 2)
                ++s.Exception02;
            else if (r.ExceptionCode == 4)
                ++s.Exception04;
            else {
                ++s.OtherExceptions;
                s.LastOtherException = r.ExceptionCode;
            }
            break;
        case TFrameOutcome::Broadcast:
            break;
        }
    }
    return s;
}
