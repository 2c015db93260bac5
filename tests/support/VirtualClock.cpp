#include "support/VirtualClock.h"

#include <algorithm>
#include <utility>

class TVirtualClock::TTimer : public IOneShotTimer {
public:
    TTimer(TVirtualClock& clock, std::function<void()> onTimeout)
        : FClock(&clock), FOnTimeout(std::move(onTimeout)) {
        FClock->FTimers.push_back(this);
    }
    ~TTimer() override {
        if (FClock != nullptr) {
            std::erase(FClock->FTimers, this);
        }
    }
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    void Start(int ms) override {
        if (FClock == nullptr) {
            return;
        }
        Deadline = FClock->FNow + std::max(ms, 0);
        ArmedAs = ++FClock->FArmCount;
        Active = true;
    }
    void Stop() override { Active = false; }
    bool IsActive() const override { return Active; }
    void Fire() {
        Active = false;
        FOnTimeout();
    }
    void Detach() {
        FClock = nullptr;
        Active = false;
    }

    std::int64_t Deadline = 0;
    std::uint64_t ArmedAs = 0;
    bool Active = false;

private:
    TVirtualClock* FClock;
    std::function<void()> FOnTimeout;
};

TVirtualClock::~TVirtualClock() {
    for (TTimer* t : FTimers) {
        t->Detach();
    }
}

std::unique_ptr<IOneShotTimer> TVirtualClock::CreateTimer(std::function<void()> onTimeout) {
    return std::make_unique<TTimer>(*this, std::move(onTimeout));
}

void TVirtualClock::Sleep(int ms) {
    FSleeps.push_back(ms);
    FNow += std::max(ms, 0);
}

TVirtualClock::TTimer* TVirtualClock::NextDue(std::int64_t until) const {
    TTimer* next = nullptr;
    for (TTimer* t : FTimers) {
        if (!t->Active || t->Deadline > until) {
            continue;
        }
        if (next == nullptr || t->Deadline < next->Deadline ||
            (t->Deadline == next->Deadline && t->ArmedAs < next->ArmedAs)) {
            next = t;
        }
    }
    return next;
}

void TVirtualClock::Advance(std::int64_t ms) {
    const std::int64_t target = FNow + std::max<std::int64_t>(ms, 0);
    // Looked up afresh after every firing: a callback may arm, stop or destroy timers.
    while (TTimer* due = NextDue(target)) {
        FNow = std::max(FNow, due->Deadline);
        due->Fire();
    }
    FNow = target;
}

std::optional<std::int64_t> TVirtualClock::NextDeadline() const {
    std::optional<std::int64_t> next;
    for (const TTimer* t : FTimers) {
        if (t->Active && (!next || t->Deadline < *next)) {
            next = t->Deadline;
        }
    }
    return next;
}
