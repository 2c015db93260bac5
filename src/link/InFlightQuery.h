// The query on the line, from its frame going out to its handled end, with the line it went out
// on and a switch of line settings its answer brought. It exists so that the session does not
// also carry how a query's end is told: QueryFinished, then the queued queries that needed it
// dropped, the read counted for the status bar, and last LineAdopted.
#pragma once

#include "link/LinkStatus.h"
#include "link/QueryQueue.h"
#include "meter/MeterEvents.h"
#include "modbus/KrModbus.h"

#include <optional>
#include <string>
#include <utility>

// How the master judged the query that just ended.
TQueryOutcome OutcomeOf(const TKrModbus& sender);

class TInFlightQuery {
public:
    TInFlightQuery(TMeterEventStream& events, TQueryQueue& queue, TLinkStatus& status)
        : FEvents(events), FQueue(queue), FStatus(status) {}

    // The query handed to the master, none when empty; a query raises QueryStarting.
    void Start(const std::string& query, const TLinkLine& line);
    // A query is on the line and its end not yet handled.
    bool Active() const { return FQuery.has_value(); }
    // The line moved while the answer in flight was handled; told after the query's end.
    void Adopted(const TLinkLine& before, const TLinkLine& after);
    // The query's end as the master judged it; nothing when none is in flight.
    void End(const TKrModbus& sender);
    // The cycle ended: nothing is in flight any more.
    void Reset();

private:
    TMeterEventStream& FEvents;
    TQueryQueue& FQueue;
    TLinkStatus& FStatus;
    std::optional<std::pair<std::string, TLinkLine>> FQuery;
    std::optional<std::pair<TLinkLine, TLinkLine>> FAdopted;
};
