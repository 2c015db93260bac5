#include "serial/NotifyQueue.h"

#include "serial/Hangup.h"

#include "platform/Event.h"

#include <QSocketNotifier>
#include <stdexcept>

TNotifyQueue::TNotifyQueue(THandler handler)
    : FHandler(std::move(handler)), FWake(TEvent::Create()) {
    if (!FWake) {
        throw std::runtime_error("no descriptor for the serial notifications");
    }
    FWakeWatch = std::make_unique<QSocketNotifier>(FWake->Fd(), QSocketNotifier::Read);
    QObject::connect(FWakeWatch.get(), &QSocketNotifier::activated, [this] {
        // Cleared before draining: a notice pushed during the drain wakes us again.
        FWake->Clear();
        Drain();
    });
}

TNotifyQueue::~TNotifyQueue() = default;

std::uint64_t TNotifyQueue::BeginPeriod() {
    FPeriod = FNextPeriod++;
    return FPeriod;
}

void TNotifyQueue::EndPeriod() {
    FPeriod = 0;
    std::lock_guard g(FLock);
    FQueue.clear();
}

bool TNotifyQueue::Post(std::uint64_t period, int code, std::uint32_t param, std::string data) {
    bool wasEmpty = false;
    try {
        std::lock_guard g(FLock);
        wasEmpty = FQueue.empty();
        FQueue.push_back(TNotice{code, param, std::move(data), period});
    } catch (const std::bad_alloc&) {
        return false;
    }
    // One wake-up per batch: the drain takes everything that is queued by then.
    if (wasEmpty) {
        FWake->Set();
    }
    return true;
}

void TNotifyQueue::Drain() {
    for (;;) {
        TNotice notice;
        {
            std::lock_guard g(FLock);
            if (FQueue.empty()) {
                return;
            }
            notice = std::move(FQueue.front());
            FQueue.pop_front();
        }
        // A handler may close the port (ending the period); what follows is then stale.
        if (notice.Period == FPeriod && FPeriod != 0) {
            FHandler(notice);
        }
    }
}

void TNotifier::PostHangup() const {
    if (FHangup.Report()) {
        Post(NotifyRequestHangup);
    }
}
