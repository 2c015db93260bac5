// The loss of the line during one open period, shared by both threads: it is
// reported to the owner once, whichever thread meets it first, and it ends
// the writer too, so that nothing more is accepted for a line that is gone.
#pragma once

#include "platform/Event.h"

#include <atomic>
#include <memory>

class THangup {
public:
    // Null when the system refuses the event.
    static std::unique_ptr<THangup> Create() {
        auto event = TEvent::Create();
        return event ? std::make_unique<THangup>(std::move(event)) : nullptr;
    }
    explicit THangup(std::unique_ptr<TEvent> event) : FEvent(std::move(event)) {}

    // True for the first report only.
    bool Report() {
        if (FReported.exchange(true)) {
            return false;
        }
        FEvent->Set();
        return true;
    }
    bool Reported() const { return FReported.load(); }
    const TEvent& Event() const { return *FEvent; }

private:
    std::atomic<bool> FReported{false};
    std::unique_ptr<TEvent> FEvent;
};
