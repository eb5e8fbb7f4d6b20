#include <cstdio>
#include <cstdlib>

#include "platform/log_file.h"
#include "platform/win32/sys_calls.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

class Win32AppendFile final : public AppendFile {
public:
    explicit Win32AppendFile(win32::UniqueHandle h) : h_(std::move(h)) {}

    std::error_code Append(std::string_view bytes) override {
        // An aborted write that wrote nothing goes out whole again, as an
        // interrupted one does on POSIX: the lines are not dropped for it.
        DWORD written = 0;
        while (!sys::WriteFile(h_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                               nullptr)) {
            if (::GetLastError() != ERROR_OPERATION_ABORTED || written != 0)
                return win32::LastError();
        }
        if (written != bytes.size()) return std::make_error_code(std::errc::no_space_on_device);
        return {};
    }

    std::error_code Flush() override {
        return sys::FlushFileBuffers(h_.get()) ? std::error_code() : win32::LastError();
    }

    std::uint64_t Size() override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(h_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }

    // Opened anew for each batch: the file's identity would cost an open
    // of its own.
    bool StillAt(const std::filesystem::path&) override { return false; }

private:
    win32::UniqueHandle h_;
};

}  // namespace

// FILE_APPEND_DATA alone (no FILE_WRITE_DATA) makes every write go to the
// end of the file; FILE_SHARE_DELETE lets another process rotate it.
// The log is opened anew for each batch (see StillAt), so an aborted open
// is tried again rather than dropping the batch.
std::unique_ptr<AppendFile> OpenForAppend(const std::filesystem::path& file, std::error_code& ec) {
    win32::UniqueHandle h;
    do {
        h.Reset(sys::CreateFileW(file.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    } while (!h && ::GetLastError() == ERROR_OPERATION_ABORTED);
    if (!h) {
        ec = win32::LastError();
        return nullptr;
    }
    ec.clear();
    return std::make_unique<Win32AppendFile>(std::move(h));
}

std::error_code RotateLog(const std::filesystem::path& file, std::uint64_t limit, int keep) {
    std::filesystem::path lockPath = file;
    lockPath += L".lock";
    win32::UniqueHandle lock(sys::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!lock) return win32::LastError();
    OVERLAPPED whole{};
    if (!sys::LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        return win32::LastError();
    // Another process may have rotated it while we waited.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    std::error_code result;
    if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) result = win32::LastError();
    } else if (((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) >= limit) {
        auto numbered = [&](int n) { return RotatedLogPath(file, n); };
        for (int n = keep - 1; n >= 1 && !result; --n) {
            if (!sys::MoveFileExW(numbered(n).c_str(), numbered(n + 1).c_str(),
                                  MOVEFILE_REPLACE_EXISTING) &&
                ::GetLastError() != ERROR_FILE_NOT_FOUND) {
                result = win32::LastError();
            }
        }
        if (!result &&
            !sys::MoveFileExW(file.c_str(), numbered(1).c_str(), MOVEFILE_REPLACE_EXISTING))
            result = win32::LastError();
    }
    ::UnlockFileEx(lock.get(), 0, MAXDWORD, MAXDWORD, &whole);
    return result;
}

}  // namespace tavren::platform
