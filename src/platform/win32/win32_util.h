#pragma once

// Helpers shared by the Windows implementations of the platform layer.
// Only the platform layer's own .cpp files, and tests of them, include
// this header.

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/win32/wide_text.h"

namespace tavren::platform::win32 {

// Owns a kernel object handle. Both null and INVALID_HANDLE_VALUE mean
// "none", since Win32 calls report failure with either.
template <BOOL(WINAPI* Close)(HANDLE)>
class BasicHandle {
public:
    BasicHandle() = default;
    explicit BasicHandle(HANDLE h) : h_(h) {}
    ~BasicHandle() { Reset(); }
    BasicHandle(BasicHandle&& other) noexcept : h_(other.Release()) {}
    BasicHandle& operator=(BasicHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    BasicHandle(const BasicHandle&) = delete;
    BasicHandle& operator=(const BasicHandle&) = delete;

    explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void Reset(HANDLE h = nullptr) {
        if (*this) Close(h_);
        h_ = h;
    }

private:
    HANDLE h_ = nullptr;
};

using UniqueHandle = BasicHandle<&::CloseHandle>;                  // files, events, processes
using FindHandle = BasicHandle<&::FindClose>;                      // FindFirstFileW
using ChangeHandle = BasicHandle<&::FindCloseChangeNotification>;  // FindFirstChangeNotificationW

// A timeout as the milliseconds of a Win32 wait; none waits forever.
inline DWORD WaitMilliseconds(std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout) return INFINITE;
    // INFINITE is 0xFFFFFFFF: a finite wait stays below it.
    const auto ms = std::clamp<std::chrono::milliseconds::rep>(timeout->count(), 0, INFINITE - 1);
    return static_cast<DWORD>(ms);
}


// A Win32 error code as an error_code. The codes the program tests for
// (missing file, name taken, another drive, ...) map to std::errc, so that
// code written against errno values works unchanged; the rest keep their
// Win32 value and the system's text (in UTF-8), and compare equal to the
// std::errc they mean (a share or drive out of reach included).
std::error_code ErrorFrom(DWORD code);
inline std::error_code LastError() {
    return ErrorFrom(::GetLastError());
}
// LastError() after a file or folder could not be opened. One that is being
// deleted counts as missing already: Windows keeps it, refusing every open,
// until the last handle on it closes, which may be our own change
// notification on it.
std::error_code OpenError();

// Seconds since 1970 (UTC) and FILETIME ticks (100 ns since 1601) apart.
std::int64_t FileTimeToUnixSeconds(const FILETIME& ft);
FILETIME UnixSecondsToFileTime(std::int64_t seconds);

// Six letters and digits for a temporary file name, different at each call
// in this process and, with high probability, from those of others.
std::wstring UniqueSuffix();

// COM on the calling thread for the lifetime of the object; released only
// when this object initialised it.
class ComScope {
public:
    explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED);
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // True when COM can be used on this thread (also when it was already
    // initialised, even with the other threading model).
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool release_ = false;
};

}  // namespace tavren::platform::win32
