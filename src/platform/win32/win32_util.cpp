#include "platform/win32/win32_util.h"

#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <optional>

namespace tavren::platform::win32 {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

// A share, server or drive that does not answer says nothing about whether
// a file is there. system_category takes some of these codes for missing
// files and knows the others not at all; here they are out of reach, so
// that a share or drive away is never taken for a folder that was emptied.
std::optional<std::errc> OutOfReach(int code) {
    switch (code) {
        case ERROR_BAD_NETPATH:
        case ERROR_REM_NOT_LIST:
        case ERROR_HOST_UNREACHABLE:
            return std::errc::host_unreachable;
        case ERROR_NETWORK_UNREACHABLE:
            return std::errc::network_unreachable;
        case ERROR_BAD_NET_NAME:
        case ERROR_NETNAME_DELETED:
        case ERROR_UNEXP_NET_ERR:
            return std::errc::not_connected;
        case ERROR_NOT_READY:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NO_MEDIA_IN_DRIVE:
            return std::errc::no_such_device;
        case ERROR_SEM_TIMEOUT:
            return std::errc::timed_out;
        default:
            return std::nullopt;
    }
}

// Win32 codes with the system's own text in UTF-8, the program's text
// (system_category gives it in the ANSI code page).
class Win32ErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "win32"; }

    std::string message(int code) const override {
        wchar_t text[512];
        DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, text,
                                   static_cast<DWORD>(std::size(text)), nullptr);
        while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) --n;
        if (n == 0) return "Windows error " + std::to_string(code);
        return Narrow(std::wstring_view(text, n));
    }

    std::error_condition default_error_condition(int code) const noexcept override {
        if (const std::optional<std::errc> condition = OutOfReach(code)) return *condition;
        return std::system_category().default_error_condition(code);
    }
};

const std::error_category& Win32Category() {
    static const Win32ErrorCategory category;
    return category;
}

}  // namespace

std::error_code ErrorFrom(DWORD code) {
    using std::errc;
    switch (code) {
        case ERROR_SUCCESS:
            return {};
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return std::make_error_code(errc::no_such_file_or_directory);
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return std::make_error_code(errc::permission_denied);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::make_error_code(errc::device_or_resource_busy);
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return std::make_error_code(errc::file_exists);
        case ERROR_NOT_SAME_DEVICE:
            return std::make_error_code(errc::cross_device_link);
        case ERROR_DIRECTORY:
            return std::make_error_code(errc::not_a_directory);
        case ERROR_DIR_NOT_EMPTY:
            return std::make_error_code(errc::directory_not_empty);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::make_error_code(errc::no_space_on_device);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return std::make_error_code(errc::not_enough_memory);
        case ERROR_FILENAME_EXCED_RANGE:
            return std::make_error_code(errc::filename_too_long);
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return std::make_error_code(errc::invalid_argument);
        default:
            return {static_cast<int>(code), Win32Category()};
    }
}

std::error_code OpenError() {
    const DWORD code = ::GetLastError();
    if (code == ERROR_ACCESS_DENIED) {
        // A pending deletion is reported as a refused access; the system's
        // own status, kept beside the error, tells the two apart.
        constexpr LONG kDeletePending = static_cast<LONG>(0xC0000056);  // STATUS_DELETE_PENDING
        using LastStatus = LONG(WINAPI*)();
        static const auto lastStatus = reinterpret_cast<LastStatus>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
        if (lastStatus && lastStatus() == kDeletePending) {
            return std::make_error_code(std::errc::no_such_file_or_directory);
        }
    }
    return ErrorFrom(code);
}

namespace {
// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;
}  // namespace

std::int64_t FileTimeToUnixSeconds(const FILETIME& ft) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    const std::int64_t since1970 = ticks - kEpochDifference;
    // Round towards minus infinity, as st_mtim.tv_sec does for times before 1970.
    return since1970 >= 0 ? since1970 / kTicksPerSecond
                          : -((-since1970 + kTicksPerSecond - 1) / kTicksPerSecond);
}

FILETIME UnixSecondsToFileTime(std::int64_t seconds) {
    const auto ticks = static_cast<std::uint64_t>(seconds * kTicksPerSecond + kEpochDifference);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// Six characters that make a temporary name unique among the writers of
// this process and, with high probability, of others.
std::wstring UniqueSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t v = ::GetTickCount64() * 0x9E3779B97F4A7C15ULL;
    v ^= (std::uint64_t{::GetCurrentProcessId()} << 32) ^ ++counter;
    v ^= v >> 29;
    v *= 0xBF58476D1CE4E5B9ULL;
    v ^= v >> 32;
    static const wchar_t digits[] =
        L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::wstring s(6, L'0');
    for (wchar_t& c : s) {
        c = digits[v % 62];
        v /= 62;
    }
    return s;
}

ComScope::ComScope(DWORD model) {
    const HRESULT hr = ::CoInitializeEx(nullptr, model);
    // RPC_E_CHANGED_MODE: COM is up on this thread with the other model,
    // which serves our in-process objects as well; it is not ours to end.
    ok_ = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
    release_ = SUCCEEDED(hr);
}

ComScope::~ComScope() {
    if (release_) ::CoUninitialize();
}

}  // namespace tavren::platform::win32
