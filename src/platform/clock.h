#pragma once

#include <cstdint>

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

}  // namespace tavren::platform
