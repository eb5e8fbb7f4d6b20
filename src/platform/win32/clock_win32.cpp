#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

LocalTime ToLocalTime(std::int64_t secondsSinceEpoch) {
    // FileTimeToLocalFileTime applies the bias in force now, daylight saving
    // included, whatever the season of the time converted: the same local
    // time that Explorer shows for a file, and what snapshots have always
    // recorded on Windows.
    const FILETIME utc = win32::UnixSecondsToFileTime(secondsSinceEpoch);
    FILETIME local;
    SYSTEMTIME st;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) {
        return {1970, 1, 1, 0, 0, 0};
    }
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::int64_t NowSeconds() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return win32::FileTimeToUnixSeconds(now);
}

std::string LocalTimeStampNow() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    TIME_ZONE_INFORMATION zone;
    const DWORD kind = ::GetTimeZoneInformation(&zone);
    long bias = zone.Bias;  // minutes to add to local time for UTC
    if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    const long offset = -bias;
    const long absolute = std::labs(offset);
    char text[80];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02ld:%02ld", st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                  offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text;
}

std::chrono::nanoseconds ThreadCpuTime() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return {};
    auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);  // 100 ns ticks
}

}  // namespace tavren::platform
