#pragma once

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

namespace tavren::platform::posix {

// Polls `fds` until one is ready, the timeout passes (false), or a failure
// other than EINTR (true, so that the caller looks at the descriptors).
inline bool PollReadable(pollfd* fds, nfds_t count,
                         std::optional<std::chrono::milliseconds> timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
    for (;;) {
        timespec ts{};
        timespec* tsp = nullptr;
        if (timeout) {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            tsp = &ts;
        }
        const int rc = ::ppoll(fds, count, tsp, nullptr);
        if (rc > 0) return true;
        if (rc == 0) return false;
        if (errno != EINTR) return true;
    }
}

}  // namespace tavren::platform::posix
