#include "link/InFlightQuery.h"

#include "meter/QueryPlan.h"

#include <vector>

TQueryOutcome OutcomeOf(const TKrModbus& sender) {
    TQueryOutcome outcome;
    switch (sender.ErrorKind()) {
    case TKrModbus::ekNone:
        break;
    case TKrModbus::ekException:
        outcome = {TQueryResult::Exception, sender.ExceptionCode()};
        break;
    case TKrModbus::ekNoResponse:
        outcome.Result = TQueryResult::NoAnswer;
        break;
    default:
        outcome.Result = TQueryResult::BadAnswer;
        break;
    }
    return outcome;
}

void TInFlightQuery::Start(const std::string& query, const TLinkLine& line) {
    if (query.empty()) {
        FQuery.reset();
        return;
    }
    FQuery.emplace(query, line);
    FEvents.Raise([&](IMeterEvents& e) { e.QueryStarting(query, FQuery->second); });
}

void TInFlightQuery::Adopted(const TLinkLine& before, const TLinkLine& after) {
    if (after != before)
        FAdopted.emplace(before, after);
}

void TInFlightQuery::End(const TKrModbus& sender) {
    if (!FQuery)
        return;
    const std::string text = std::move(FQuery->first);
    const TLinkLine line = FQuery->second;
    FQuery.reset();
    const TQueryOutcome outcome = OutcomeOf(sender);
    FEvents.Raise([&](IMeterEvents& e) { e.QueryFinished(text, line, outcome); });
    if (outcome.Result != TQueryResult::Answered) {
        const std::vector<std::string> dropped = FQueue.DropDependents(text);
        if (!dropped.empty())
            FEvents.Raise([&](IMeterEvents& e) { e.QueriesDropped(dropped); });
    }
    if (!IsWriteQuery(text))
        FStatus.ReadEnded(outcome.Result == TQueryResult::Answered);
    if (FAdopted) {
        const TLinkLine before = FAdopted->first;
        const TLinkLine after = FAdopted->second;
        FAdopted.reset();
        FEvents.Raise([&](IMeterEvents& e) { e.LineAdopted(before, after); });
    }
}

void TInFlightQuery::Reset() {
    FQuery.reset();
    FAdopted.reset();
}
