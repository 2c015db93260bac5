// The meter model of the meter the link reaches now, with the line its facts were read on.
// It exists so that the session does not also decide when another meter may answer: another
// address, port or line setting brings a new model that knows nothing, a settings write that
// moved the meter keeps it, and a connection's end forgets the line.
#pragma once

#include "meter/MeterEvents.h"
#include "meter/MeterModel.h"

#include <memory>
#include <optional>

class TReachedMeter {
public:
    explicit TReachedMeter(TMeterEventStream& events) : FEvents(events) {}

    const TMeterModel& Model() const { return *FModel; }
    TMeterModel* operator->() const { return FModel.get(); }

    // Another meter on `line`: a new model, which asks for its identity and ratios at once
    // when `ask`; raises MeterChanged.
    void Renew(const TLinkLine& line, bool ask);
    // A new model, and no meter reached yet: the first query's line is the meter's.
    void Forget(const TLinkLine& line);
    // A query goes out on `line`: on another line than the facts were read on, another meter
    // may answer.
    void QueryOn(const TLinkLine& line);
    // The same meter, moved by its own settings: what is known of it holds.
    void MovedTo(const TLinkLine& line);
    // Another meter of a shared line, already known, becomes the one reached; its model raises
    // on this stream from now on, and MeterChanged tells the followers to read it afresh.
    // Returns the model it replaces.
    std::unique_ptr<TMeterModel> Exchange(std::unique_ptr<TMeterModel> model);

private:
    TMeterEventStream& FEvents;
    std::unique_ptr<TMeterModel> FModel;
    // The line whose meter the model was read from; none between connections.
    std::optional<TLinkLine> FLine;
};
