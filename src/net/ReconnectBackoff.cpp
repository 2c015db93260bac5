#include "net/ReconnectBackoff.h"

#include <algorithm>

void TReconnectBackoff::Connected() {
    FStep = FirstDelayMs;
}

void TReconnectBackoff::Dropped(std::int64_t now, bool afterAnswer) {
    if (afterAnswer) {
        FNextAttempt = now;
        return;
    }
    Postpone(now);
}

void TReconnectBackoff::Failed(std::int64_t now) {
    Postpone(now);
}

void TReconnectBackoff::Postpone(std::int64_t now) {
    FNextAttempt = now + FStep;
    FStep = std::min(FStep * 2, MaxDelayMs);
}

int TReconnectBackoff::DelayAt(std::int64_t now) const {
    return static_cast<int>(std::max<std::int64_t>(0, FNextAttempt - now));
}
