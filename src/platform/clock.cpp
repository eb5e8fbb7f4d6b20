#include "platform/clock.h"

#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

// The clock of the running program: the system's time and time zone, and
// sleeps that a cancel event cuts short.
class SystemClock final : public Clock {
public:
    std::int64_t NowSeconds() override { return platform::NowSeconds(); }
    LocalTime ToLocal(std::int64_t s) override { return ToLocalTime(s); }
    void Sleep(std::chrono::milliseconds duration, const WakeEvent& cancel) override {
        cancel.WaitFor(duration);
    }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() {
    return std::make_unique<SystemClock>();
}

}  // namespace tavren::platform
