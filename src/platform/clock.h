#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tavren::platform {

struct LocalTime {
    int year = 0;    // e.g. 2026
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;    // 0-23
    int minute = 0;  // 0-59
    int second = 0;  // 0-60
};

// Splits seconds since the epoch into local calendar time, with the time
// zone rules in force for that moment.
LocalTime ToLocalTime(std::int64_t secondsSinceEpoch);

// Current calendar time in whole seconds since the epoch.
std::int64_t NowSeconds();

// The local time now, to the millisecond, with the offset from UTC:
// 2026-12-08T14:03:05.123+09:00.
std::string LocalTimeStampNow();

// Processor time the calling thread has used so far.
std::chrono::nanoseconds ThreadCpuTime();

class WakeEvent;

// Time as the watch engine sees it; tests replace it to run the debounce
// and the pauses without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t NowSeconds() = 0;
    virtual LocalTime ToLocal(std::int64_t secondsSinceEpoch) = 0;
    // Pauses for `duration`, or less when `cancel` is set.
    virtual void Sleep(std::chrono::milliseconds duration, const WakeEvent& cancel) = 0;
    // The time of an activity log line (LocalTimeStampNow).
    virtual std::string TimeStamp() { return LocalTimeStampNow(); }
};

std::unique_ptr<Clock> MakeSystemClock();

}  // namespace tavren::platform
