#include "bus/BusSchedule.h"

#include "meter/MeterEvents.h"

#include <algorithm>

namespace {
const TBusMeterStats NoStats;
} // namespace

TBusSchedule::TBusSchedule(const TBusTimings& timings) : FTimings(timings) {}

TBusSchedule::TMeterSlot* TBusSchedule::Find(int address) {
    const auto it = std::find_if(FSlots.begin(), FSlots.end(), [address](const TMeterSlot& s) {
        return s.Meter.Address == address;
    });
    return it == FSlots.end() ? nullptr : &*it;
}

const TBusSchedule::TMeterSlot* TBusSchedule::Find(int address) const {
    return const_cast<TBusSchedule*>(this)->Find(address);
}

bool TBusSchedule::AddMeter(const TBusMeter& meter, std::int64_t now) {
    if (!IsMeterAddress(meter.Address) || Find(meter.Address) != nullptr || meter.IntervalMs < 0) {
        return false;
    }
    TMeterSlot slot;
    slot.Meter = meter;
    slot.Due = now;
    FSlots.push_back(slot);
    return true;
}

bool TBusSchedule::Pause(int address) {
    TMeterSlot* slot = Find(address);
    if (slot == nullptr) {
        return false;
    }
    slot->Meter.Paused = true;
    return true;
}

bool TBusSchedule::Resume(int address, std::int64_t now) {
    TMeterSlot* slot = Find(address);
    if (slot == nullptr || !slot->Meter.Paused) {
        return false;
    }
    slot->Meter.Paused = false;
    slot->Due = now;
    slot->Stats.RestartCadence();
    return true;
}

void TBusSchedule::SetInterval(int address, std::int64_t intervalMs) {
    if (TMeterSlot* slot = Find(address); slot != nullptr && intervalMs >= 0) {
        slot->Meter.IntervalMs = intervalMs;
        slot->Stats.RestartCadence();
    }
}

std::int64_t TBusSchedule::LineFreeFor(int address) const {
    if (!FLastEnd) {
        return 0;
    }
    const bool otherAddress = FLastAddress && *FLastAddress != address;
    return *FLastEnd + FTimings.SilenceMs + (otherAddress ? FTimings.AddressChangePauseMs : 0);
}

std::optional<TBusNextQuery> TBusSchedule::Next(std::int64_t now) const {
    if (FInFlight) {
        return std::nullopt;
    }
    const TMeterSlot* best = nullptr;
    for (const TMeterSlot& slot : FSlots) {
        if (slot.Meter.Paused) {
            continue;
        }
        // The most overdue first; of meters due together, the one asked longest ago.
        const auto lastStart = [](const TMeterSlot& s) {
            return s.Stats.Queries == 0 ? INT64_MIN : s.Stats.LastStart;
        };
        if (best == nullptr || slot.Due < best->Due ||
            (slot.Due == best->Due && lastStart(slot) < lastStart(*best))) {
            best = &slot;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    const int address = best->Meter.Address;
    return TBusNextQuery{address, std::max({now, best->Due, LineFreeFor(address)})};
}

bool TBusSchedule::Started(int address, std::int64_t now) {
    TMeterSlot* slot = Find(address);
    if (FInFlight || slot == nullptr || slot->Meter.Paused) {
        return false;
    }
    FInFlight = TFlight{address, now};
    if (!FFirstStart) {
        FFirstStart = now;
    }
    ++FQueries;
    slot->Stats.NoteStart(now);
    return true;
}

void TBusSchedule::Remember(TMeterSlot& slot, TBusOutcome outcome, std::int64_t responseMs) {
    slot.Recent.push_back(outcome);
    const auto window = static_cast<std::size_t>(std::max(FTimings.SlowWindow, 1));
    if (slot.Recent.size() > window) {
        slot.Recent.erase(slot.Recent.begin(),
                          slot.Recent.end() - static_cast<std::ptrdiff_t>(window));
    }
    slot.TimeoutsInRow = outcome == TBusOutcome::TimedOut ? slot.TimeoutsInRow + 1 : 0;
    if (outcome == TBusOutcome::Answered) {
        slot.LastResponseMs = responseMs;
    }
}

void TBusSchedule::Reschedule(TMeterSlot& slot, TBusOutcome outcome, std::int64_t start,
                              std::int64_t now) {
    const bool timedOut = outcome == TBusOutcome::TimedOut;
    if (slot.Offline && timedOut) {
        slot.Backoff = std::min(slot.Backoff * 2, FTimings.BackoffMaxMs);
        slot.Due = now + slot.Backoff;
        return;
    }
    if (slot.Offline) {
        // Back: at its own interval from this probe, with nothing held against it.
        slot.Offline = false;
        slot.Recent.clear();
        slot.LastResponseMs.reset();
        slot.Stats.RestartCadenceAt(start);
        slot.Due = start + slot.Meter.IntervalMs;
        return;
    }
    if (timedOut && slot.TimeoutsInRow >= FTimings.OfflineAfter) {
        slot.Offline = true;
        slot.Backoff = std::min(FTimings.BackoffFirstMs, FTimings.BackoffMaxMs);
        slot.Due = now + slot.Backoff;
        return;
    }
    // Anchored to when it was due, so waiting for the line does not stretch its cadence; never
    // before this query, so a meter that fell behind does not catch up in a burst.
    slot.Due = std::max(slot.Due + slot.Meter.IntervalMs, start);
}

void TBusSchedule::Finished(TBusOutcome outcome, std::int64_t now, std::int64_t responseMs) {
    if (!FInFlight) {
        return;
    }
    const TFlight flight = *FInFlight;
    FInFlight.reset();
    FBusyMs += now - flight.Start;
    FLastEnd = now;
    FLastAddress = flight.Address;
    TMeterSlot* slot = Find(flight.Address);
    if (slot == nullptr) {
        return;
    }
    slot->Stats.Count(outcome, responseMs, now);
    Remember(*slot, outcome, responseMs);
    Reschedule(*slot, outcome, flight.Start, now);
}

std::vector<int> TBusSchedule::Addresses() const {
    std::vector<int> addresses;
    for (const TMeterSlot& slot : FSlots) {
        addresses.push_back(slot.Meter.Address);
    }
    return addresses;
}

bool TBusSchedule::Slow(const TMeterSlot& slot) const {
    const bool missed = std::any_of(slot.Recent.begin(), slot.Recent.end(), [](TBusOutcome o) {
        return o == TBusOutcome::TimedOut || o == TBusOutcome::BadFrame;
    });
    return missed || (slot.LastResponseMs && *slot.LastResponseMs > FTimings.SlowResponseMs);
}

TBusMeterState TBusSchedule::State(int address) const {
    const TMeterSlot* slot = Find(address);
    if (slot == nullptr || slot->Meter.Paused) {
        return TBusMeterState::Paused;
    }
    if (slot->Offline) {
        return TBusMeterState::Offline;
    }
    return Slow(*slot) ? TBusMeterState::Slow : TBusMeterState::Answering;
}

const TBusMeterStats& TBusSchedule::Stats(int address) const {
    const TMeterSlot* slot = Find(address);
    return slot == nullptr ? NoStats : slot->Stats;
}

std::int64_t TBusSchedule::BackoffMs(int address) const {
    const TMeterSlot* slot = Find(address);
    return slot != nullptr && slot->Offline ? slot->Backoff : 0;
}

TBusLineStats TBusSchedule::LineStats(std::int64_t now) const {
    TBusLineStats line;
    line.Queries = FQueries;
    for (const TMeterSlot& slot : FSlots) {
        if (slot.Meter.Paused || slot.Offline) {
            continue;
        }
        line.AskedCycleMs = std::max(line.AskedCycleMs, slot.Meter.IntervalMs);
        if (const auto achieved = slot.Stats.AchievedIntervalMs()) {
            line.AchievedCycleMs = std::max(line.AchievedCycleMs.value_or(0), *achieved);
        }
    }
    if (FFirstStart && now > *FFirstStart) {
        const std::int64_t busy = FBusyMs + (FInFlight ? now - FInFlight->Start : 0);
        line.BusyShare = static_cast<double>(busy) / static_cast<double>(now - *FFirstStart);
    }
    return line;
}
