// A clock that stands still until the test moves it: its timers fire only inside Advance, in
// the order of their deadlines, each seeing Now() at its own deadline; its Sleep moves the time
// on without firing anything, as a blocked thread would.
#pragma once

#include "modbus/KrClock.h"

#include <cstdint>
#include <optional>
#include <vector>

class TVirtualClock : public IKrClock {
public:
    TVirtualClock() = default;
    ~TVirtualClock() override;
    TVirtualClock(const TVirtualClock&) = delete;
    TVirtualClock& operator=(const TVirtualClock&) = delete;

    std::unique_ptr<IOneShotTimer> CreateTimer(std::function<void()> onTimeout) override;
    void Sleep(int ms) override;

    // Milliseconds since the clock was made.
    std::int64_t Now() const { return FNow; }
    std::int64_t NowMs() const override { return FNow; }
    // Moves the time on by ms, firing every timer that falls due on the way, also the ones a
    // firing timer arms; timers due at the same moment fire in the order they were armed.
    // Advance(0) fires the timers that a Sleep made overdue.
    void Advance(std::int64_t ms);
    void AdvanceTo(std::int64_t time) { Advance(time - FNow); }
    // The earliest deadline of an armed timer.
    std::optional<std::int64_t> NextDeadline() const;
    // Every Sleep, in order, in ms.
    const std::vector<int>& Sleeps() const { return FSleeps; }

private:
    class TTimer;
    TTimer* NextDue(std::int64_t until) const;

    std::int64_t FNow = 0;
    std::uint64_t FArmCount = 0;
    std::vector<TTimer*> FTimers;
    std::vector<int> FSleeps;
};
