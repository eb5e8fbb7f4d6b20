#include <time.h>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace tavren::platform {

LocalTime ToLocalTime(std::int64_t secondsSinceEpoch) {
    const time_t t = static_cast<time_t>(secondsSinceEpoch);
    struct tm tm {};
    if (::localtime_r(&t, &tm) == nullptr) return {1970, 1, 1, 0, 0, 0};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::int64_t NowSeconds() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t NowSeconds() override { return platform::NowSeconds(); }
    LocalTime ToLocal(std::int64_t s) override { return ToLocalTime(s); }
    void Sleep(std::chrono::milliseconds duration, const WakeEvent& cancel) override {
        cancel.WaitFor(duration);
    }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<SystemClock>(); }

}  // namespace tavren::platform
