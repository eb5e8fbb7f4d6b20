#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"

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

std::string LocalTimeStampNow() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    if (::localtime_r(&ts.tv_sec, &tm) == nullptr) return "1970-01-01T00:00:00.000+00:00";
    const long offset = tm.tm_gmtoff / 60;
    const long absolute = std::labs(offset);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ld%c%02ld:%02ld",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  ts.tv_nsec / 1000000, offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text;
}

std::chrono::nanoseconds ThreadCpuTime() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace tavren::platform
