// The Windows side of the test helpers declared in support/temp_dir.h.

#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/path_text.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::test {
namespace {

std::runtime_error Failure(const std::string& what, const std::filesystem::path& file) {
    return std::runtime_error(what + " " + platform::PathToUtf8(file) + ": error " +
                              std::to_string(::GetLastError()));
}

struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name = L"tavren-test-" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(::GetTickCount64() % 100000) + L"-" +
                                  std::to_wstring(++counter);
        const std::filesystem::path candidate = std::filesystem::path(base) / name;
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw Failure("cannot create", candidate);
    }
    throw std::runtime_error("no free temporary folder name");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files behind, which Windows will not delete.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
    HandleCloser h{::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) throw Failure("cannot create", file);
    DWORD written = 0;
    if (!bytes.empty() &&
        (!::WriteFile(h.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size())) {
        throw Failure("cannot write", file);
    }
}

std::string ReadBytes(const std::filesystem::path& file) {
    HandleCloser h{::CreateFileW(file.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    std::string out;
    if (h.h == INVALID_HANDLE_VALUE) return out;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    return out;
}

void SetLocalMtime(const std::filesystem::path& file, int year, int month, int day, int hour,
                   int minute, int second) {
    // The inverse of the FileTimeToLocalFileTime that listings go through.
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME local;
    FILETIME utc;
    if (!::SystemTimeToFileTime(&st, &local) || !::LocalFileTimeToFileTime(&local, &utc)) {
        throw Failure("bad time for", file);
    }
    HandleCloser h{::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE || !::SetFileTime(h.h, nullptr, &utc, &utc)) {
        throw Failure("cannot set the time of", file);
    }
}

void SetMtimeNs(const std::filesystem::path& file, std::int64_t ns) {
    constexpr std::int64_t kTicksTo1970 = 116444736000000000LL;  // 100 ns ticks since 1601
    const auto ticks = static_cast<std::uint64_t>(ns / 100 + kTicksTo1970);
    const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    HandleCloser h{::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE || !::SetFileTime(h.h, nullptr, &utc, &utc)) {
        throw Failure("cannot set the time of", file);
    }
}

}  // namespace tavren::test
