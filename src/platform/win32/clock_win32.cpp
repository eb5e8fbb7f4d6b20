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

std::chrono::nanoseconds ThreadCpuTime() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return {};
    auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return std::chrono::nanoseconds((ticks(kernel) + ticks(user)) * 100);  // 100 ns ticks
}

}  // namespace tavren::platform
