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

// On the parent: a folder made, removed or renamed there. Windows cannot
// tell which name changed; the engine looks whether it was the watched one.
constexpr DWORD kParentFilter = FILE_NOTIFY_CHANGE_DIR_NAME;

// One change notification object per watched folder, and one on its
// parent: Windows has no per-user limit like inotify's.
class Win32Subscription final : public ChangeSubscription {
public:
    Win32Subscription(win32::ChangeHandle folder, win32::ChangeHandle parent,
                      std::filesystem::path path)
        : folder_(std::move(folder)), parent_(std::move(parent)), path_(std::move(path)) {}

    WaitResult Wait(const WakeEvent& stop,
                    std::optional<std::chrono::milliseconds> timeout) override {
        return WaitOn(stop, timeout, nullptr);
    }

    WaitResult WaitWith(const WakeEvent& stop, std::optional<std::chrono::milliseconds> timeout,
                        ChangeSubscription& companion) override {
        return WaitOn(stop, timeout, dynamic_cast<Win32Subscription*>(&companion));
    }

private:
    WaitResult WaitOn(const WakeEvent& stop, std::optional<std::chrono::milliseconds> timeout,
                      Win32Subscription* companion) {
        if (stop.IsSet()) return WaitResult::Stopped;
        // The stop comes through its own event: closing a change handle does
        // not end a wait on it under Wine, and Windows leaves that undefined.
        // The stop event is first, so it wins when both are signalled.
        HANDLE handles[5] = {stop.NativeHandle()};
        DWORD count = 1;
        int folderAt = -1, parentAt = -1;
        if (folder_) {
            folderAt = static_cast<int>(count);
            handles[count++] = folder_.get();
        }
        if (parent_) {
            parentAt = static_cast<int>(count);
            handles[count++] = parent_.get();
        }
        const DWORD own = count;
        if (companion) {
            for (const win32::ChangeHandle* h : {&companion->folder_, &companion->parent_}) {
                if (*h) handles[count++] = h->get();
            }
        }
        const DWORD r =
            ::WaitForMultipleObjects(count, handles, FALSE, win32::WaitMilliseconds(timeout));
        if (r == WAIT_OBJECT_0 || stop.IsSet()) return WaitResult::Stopped;
        if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
        const int which = static_cast<int>(r - WAIT_OBJECT_0);
        // The companion is made anew by its owner after each report.
        if (which >= static_cast<int>(own)) return WaitResult::CompanionChanged;
        if (which == parentAt) {
            if (!::FindNextChangeNotification(parent_.get())) parent_.Reset();
            return WaitResult::PathChanged;
        }
        // Re-arm at once: a change made during the rescan that follows then
        // signals the handle again and is seen by the next wait.
        if (which != folderAt || !::FindNextChangeNotification(folder_.get()) || !IsFolder(path_)) {
            folder_.Reset();
            return WaitResult::FolderGone;
        }
        return WaitResult::Changed;
    }

    win32::ChangeHandle folder_;  // empty once the folder is gone
    win32::ChangeHandle parent_;  // empty when the parent is not watched
    const std::filesystem::path path_;
};

win32::ChangeHandle WatchParent(const std::filesystem::path& folder) {
    const PlaceInParent place = PlaceOf(folder);
    if (place.parent.empty()) return win32::ChangeHandle();
    return win32::ChangeHandle(
        ::FindFirstChangeNotificationW(place.parent.c_str(), FALSE, kParentFilter));
}

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
        // A folder's own notification cannot leave out the copies that moves
        // write into it, so a destination is watched through its parent
        // alone: its coming back wakes the waiter, the rest waits for the
        // retry.
        if (kind == ChangeKind::Destination) return WatchForFolder(folder, ec);
        win32::ChangeHandle handle(::FindFirstChangeNotificationW(
            folder.c_str(), FALSE, kind == ChangeKind::Names ? kNamesFilter : kUpdatesFilter));
        if (!handle) {
            ec = win32::LastError();
            return nullptr;
        }
        return std::make_unique<Win32Subscription>(std::move(handle), WatchParent(folder), folder);
    }

    std::unique_ptr<ChangeSubscription> WatchForFolder(const std::filesystem::path& folder,
                                                       std::error_code& ec) override {
        ec.clear();
        win32::ChangeHandle parent = WatchParent(folder);
        if (!parent) {
            ec = win32::LastError();
            if (!ec) ec = std::make_error_code(std::errc::invalid_argument);
            return nullptr;
        }
        return std::make_unique<Win32Subscription>(win32::ChangeHandle(), std::move(parent),
                                                   folder);
    }
};

}  // namespace

// Windows has no per-user limit of change notifications to raise.
std::string ChangeLimitAdvice(const std::error_code&) {
    return {};
}
std::string ChangeOverflowAdvice() {
    return {};
}

std::unique_ptr<ChangeWatcher> MakeChangeWatcher() {
    return std::make_unique<Win32ChangeWatcher>();
}

}  // namespace tavren::platform
