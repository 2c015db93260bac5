// The meters that share the link's line with the one the pages show: their models, which raise
// their events on a stream of their own so no page sees another meter's values, and the schedule
// that says whose turn it is when no one-shot query waits. With one address on the list there is
// nothing to share and the session polls as it always did.
#pragma once

#include "bus/BusSchedule.h"
#include "meter/MeterEvents.h"
#include "meter/MeterModel.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class TBusMeters {
public:
    // More than one meter on the list: the schedule decides the turns.
    bool Shared() const { return FAddresses.size() > 1; }
    const std::vector<int>& Addresses() const { return FAddresses; }
    bool Listed(int address) const;
    // A new list (addresses not a meter's and repeats left out): the schedule and the other
    // meters' models start anew. The selected meter is read at the master's query interval, the
    // others at `otherIntervalMs`.
    void SetAddresses(const std::vector<int>& addresses, int selected, const TLinkLine& line,
                      std::int64_t now, std::int64_t selectedIntervalMs);
    void SetOtherInterval(std::int64_t ms) { FOtherIntervalMs = ms; }
    // The selected meter keeps to the master's query interval, which may change while connected.
    void KeepSelectedInterval(int selected, std::int64_t ms);

    TMeterEventStream& Events() { return FEvents; }
    const TBusSchedule& Schedule() const { return FSchedule; }
    // The model of a listed meter other than the selected one; nullptr for any other address.
    TMeterModel* Other(int address) const;

    // Whose turn it is at `now`: nothing while no meter is due (a null query goes out).
    std::optional<int> Due(std::int64_t now) const;
    // The read of another meter's turn: its identity and ratios until known, its serial number
    // once, then its measurements and its energy counters by turns.
    const char* ReadFor(int address);
    // The selected meter has nothing to read (its page is not polled): its slot waits, so the
    // others are not held back by a meter that is always due.
    void SetSelectedIdle(int selected, bool idle, std::int64_t now);
    bool Pause(int address);
    bool Resume(int address, std::int64_t now);
    bool Paused(int address) const;

    // A query to `address` went out at `now`; its end, as the master judged it.
    void Started(int address, std::int64_t now);
    void Ended(std::uint8_t errorKind, std::int64_t now);
    // The query's frame went out, and bytes of its answer came: an answer's time runs from the
    // one to the last of the other, not to the end of the master's scan interval, when it
    // judges the query.
    void FrameSent(std::int64_t now) { FSentAt = now; }
    void DataReceived(std::int64_t now) { FReceivedAt = now; }
    // A query that never ended (the cycle stopped under it) counts as unanswered.
    void Abandoned(std::int64_t now);
    // The model of the listed meter at `address`, taken off this stream (it is becoming the
    // selected one), and the model of the meter selected before, which joins the stream.
    std::unique_ptr<TMeterModel> Take(int address);
    void Put(int address, std::unique_ptr<TMeterModel> model);
    // The selected meter is now the one at `address`: it is read at `selectedIntervalMs`, the
    // one selected before at the others' interval, and that one no longer waits for its page.
    void Selected(int address, int previous, std::int64_t selectedIntervalMs, std::int64_t now);
    // A connection ended: the next one may reach other meters, known by nothing.
    void Forget(const TLinkLine& line);

private:
    void MakeModels(const TLinkLine& line, int selected);

    std::vector<int> FAddresses;
    std::vector<int> FUserPaused;
    std::int64_t FOtherIntervalMs = 2000;
    std::int64_t FSelectedIntervalMs = 0;
    TMeterEventStream FEvents;
    TBusSchedule FSchedule;
    std::map<int, std::unique_ptr<TMeterModel>> FOthers;
    std::optional<std::int64_t> FStart;
    std::optional<std::int64_t> FSentAt;
    std::optional<std::int64_t> FReceivedAt;
    // The meters whose last turn read their measurements: their energy is next.
    std::vector<int> FEnergyNext;
};
