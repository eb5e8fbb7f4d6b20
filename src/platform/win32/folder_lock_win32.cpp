#include <charconv>
#include <string>

#include "platform/folder_lock.h"
#include "platform/fs.h"
#include "platform/win32/sys_calls.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// The handle is the lock: opened for writing with a share mode that lets
// others only read, so no second open for writing succeeds, not even in
// this process, until it is closed, which the system does for a killed
// process too.
class Win32FileLock final : public FileLock {
public:
    explicit Win32FileLock(win32::UniqueHandle h) : h_(std::move(h)) {}

private:
    win32::UniqueHandle h_;
};

// The pid as the holder wrote it: digits and a newline, else 0 (a holder
// that has just taken the lock may not have written it yet). ReadFile
// shares writing, which the holder's open for writing requires.
long ReadHolder(const std::filesystem::path& file) {
    std::string text;
    if (ReadFile(file, text, 32) || text.empty()) return 0;
    long pid = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, pid);
    return ec == std::errc() && stop != end && *stop == '\n' && pid > 0 ? pid : 0;
}

}  // namespace

std::unique_ptr<FileLock> LockFile(const std::filesystem::path& file, long& holderPid,
                                   std::error_code& ec) {
    holderPid = 0;
    ec.clear();
    win32::UniqueHandle h(sys::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL));
    if (!h) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            holderPid = ReadHolder(file);
            ec = std::make_error_code(std::errc::resource_unavailable_try_again);
        } else {
            ec = win32::ErrorFrom(error);
        }
        return nullptr;
    }
    // Written over the old text before cutting it to length, so a reader
    // never finds the file empty between the two. Should either fail, the
    // lock holds all the same; only its holder's pid is not told.
    const std::string text = std::to_string(::GetCurrentProcessId()) + '\n';
    DWORD written = 0;
    if (sys::WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        sys::SetEndOfFile(h.get());
    }
    return std::make_unique<Win32FileLock>(std::move(h));
}

}  // namespace tavren::platform
