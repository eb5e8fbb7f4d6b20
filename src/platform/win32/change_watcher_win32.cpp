#include "platform/change_watcher.h"
#include "platform/fs.h"
#include "platform/wake_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// Names: a file created, renamed or deleted. Updates: a file written to or
// its attributes changed; the name filter is added so that a file renamed
// into the folder wakes the waiter too, as it does on Linux. Changes of
// sub-folders are not reported with these filters.
constexpr DWORD kNamesFilter = FILE_NOTIFY_CHANGE_FILE_NAME;
constexpr DWORD kUpdatesFilter = FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME;

// One change notification object per watched folder: Windows has no
// per-user limit like inotify's, and each worker waits on its own.
class Win32Subscription final : public ChangeSubscription {
public:
    Win32Subscription(win32::ChangeHandle handle, std::filesystem::path folder)
        : handle_(std::move(handle)), folder_(std::move(folder)) {}

    WaitResult Wait(const WakeEvent& stop,
                    std::optional<std::chrono::milliseconds> timeout) override {
        if (goneReported_)
            return stop.WaitFor(timeout) ? WaitResult::Stopped : WaitResult::TimedOut;
        if (stop.IsSet()) return WaitResult::Stopped;
        // The stop comes through its own event: closing a change handle does
        // not end a wait on it under Wine, and Windows leaves that undefined.
        // The stop event is first, so it wins when both are signalled.
        const HANDLE handles[2] = {stop.NativeHandle(), handle_.get()};
        const DWORD r =
            ::WaitForMultipleObjects(2, handles, FALSE, win32::WaitMilliseconds(timeout));
        if (r == WAIT_OBJECT_0 || stop.IsSet()) return WaitResult::Stopped;
        if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
        // Re-arm at once: a change made during the rescan that follows then
        // signals the handle again and is seen by the next wait.
        if (r != WAIT_OBJECT_0 + 1 || !::FindNextChangeNotification(handle_.get()) ||
            !IsFolder(folder_)) {
            goneReported_ = true;
            return WaitResult::FolderGone;
        }
        return WaitResult::Changed;
    }

private:
    win32::ChangeHandle handle_;
    const std::filesystem::path folder_;
    bool goneReported_ = false;  // only the waiting worker touches it
};

class Win32ChangeWatcher final : public ChangeWatcher {
public:
    std::unique_ptr<ChangeSubscription> Watch(const std::filesystem::path& folder, ChangeKind kind,
                                              std::error_code& ec) override {
        ec.clear();
        if (!IsFolder(folder)) {
            ec = Exists(folder) ? std::make_error_code(std::errc::not_a_directory)
                                : std::make_error_code(std::errc::no_such_file_or_directory);
            return nullptr;
        }
        win32::ChangeHandle handle(::FindFirstChangeNotificationW(
            folder.c_str(), FALSE, kind == ChangeKind::Names ? kNamesFilter : kUpdatesFilter));
        if (!handle) {
            ec = win32::LastError();
            return nullptr;
        }
        return std::make_unique<Win32Subscription>(std::move(handle), folder);
    }
};

}  // namespace

std::unique_ptr<ChangeWatcher> MakeChangeWatcher() {
    return std::make_unique<Win32ChangeWatcher>();
}

}  // namespace tavren::platform
