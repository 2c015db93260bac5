#include "platform/Event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

std::unique_ptr<TEvent> TEvent::Create() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<TEvent>(TPrivate{}, fd);
}

TEvent::~TEvent() {
    ::close(FFd);
}

void TEvent::Set() {
    const std::uint64_t one = 1;
    // Can only fail when the counter would overflow, and then it is set anyway.
    [[maybe_unused]] const auto written = ::write(FFd, &one, sizeof one);
}

void TEvent::Clear() {
    std::uint64_t value = 0;
    [[maybe_unused]] const auto got = ::read(FFd, &value, sizeof value);
}

bool TEvent::IsSet() const {
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

int TEvent::WaitAny(std::initializer_list<const TEvent*> events, int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (const TEvent* e : events) {
        fds.push_back(pollfd{e->FFd, POLLIN, 0});
    }
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return kWaitFailed;
        }
        if (n == 0) {
            return kWaitTimedOut;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & POLLIN) {
                return static_cast<int>(i);
            }
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                return kWaitFailed;
            }
        }
    }
}
