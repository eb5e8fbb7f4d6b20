#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/change_watcher.h"
#include "platform/file_mover.h"
#include "platform/fs.h"
#include "platform/wake_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// The folder's files: made, removed, renamed, written or their attributes
// changed. Each record says what happened, so one read serves every kind;
// the kind decides which records wake the waiter. Records do not say
// whether the entry is a folder: sub-folders, which never wake, have a read
// of their own that asks for folder names alone. (A sub-folder's own
// timestamps may still come as written, as they did when waking the kind
// that watches writes.)
constexpr DWORD kFilesFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES |
                               FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kSubFoldersFilter = FILE_NOTIFY_CHANGE_DIR_NAME;
// The most a read may ask for: a folder on a network share refuses more.
constexpr DWORD kFilesBuffer = 64 * 1024;
// Sub-folders change seldom; when their names do not fit, the next take of
// names says so and the folder is listed.
constexpr DWORD kSubFoldersBuffer = 4 * 1024;

// On the parent: a folder made, removed or renamed there. Windows cannot
// tell which name changed; the engine looks whether it was the watched one.
constexpr DWORD kParentFilter = FILE_NOTIFY_CHANGE_DIR_NAME;

// One overlapped ReadDirectoryChangesW on a folder, read again as soon as
// a read is taken: what happens in between is kept by the system and comes
// with the next read.
class DirectoryReader {
public:
    enum class Outcome {  // from the least to the most urgent
        None,             // no read has finished
        Records,          // each record was handed over
        Overflowed,       // the system dropped records
        Failed,           // the folder cannot be read any more (deleted, gone away)
    };

    DirectoryReader() = default;
    DirectoryReader(const DirectoryReader&) = delete;  // the system writes into it
    DirectoryReader& operator=(const DirectoryReader&) = delete;
    ~DirectoryReader() { Close(); }

    std::error_code Open(const std::filesystem::path& folder, DWORD filter, DWORD bufferBytes) {
        dir_.Reset(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                 nullptr));
        if (!dir_) return win32::OpenError();
        event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event_) return win32::LastError();
        filter_ = filter;
        buffer_.assign(bufferBytes / sizeof(DWORD), 0);  // records are DWORD-aligned
        if (!Issue()) return win32::LastError();
        return {};
    }

    explicit operator bool() const { return reading_; }
    HANDLE Event() const { return event_.get(); }

    // Takes the reads that have finished, without waiting: every record
    // goes to `each(action, name)`, and the next read is started. Reads
    // that finish meanwhile are taken too, so that a burst of changes
    // comes as one (a few at most: a file written without pause would
    // keep the waiter here). The worst outcome counts.
    template <typename Each>
    Outcome TakeAll(Each&& each) {
        Outcome worst = Outcome::None;
        for (int reads = 0; reads < 16; ++reads) {
            const Outcome outcome = Take(each);
            worst = std::max(worst, outcome);
            if (outcome == Outcome::None || outcome == Outcome::Failed ||
                ::WaitForSingleObject(event_.get(), 0) != WAIT_OBJECT_0) {
                break;
            }
        }
        return worst;
    }

    // Ends the read under way before the buffer it writes into goes.
    void Close() {
        if (reading_) {
            ::CancelIoEx(dir_.get(), &overlapped_);
            DWORD bytes = 0;
            ::GetOverlappedResult(dir_.get(), &overlapped_, &bytes, TRUE);
            reading_ = false;
        }
        dir_.Reset();
    }

private:
    template <typename Each>
    Outcome Take(Each& each) {
        if (!reading_) return Outcome::Failed;
        DWORD bytes = 0;
        if (!::GetOverlappedResult(dir_.get(), &overlapped_, &bytes, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) return Outcome::None;
            reading_ = false;
            // Anything else: the folder was deleted (access denied while the
            // delete is pending) or its volume went.
            if (error != ERROR_NOTIFY_ENUM_DIR) return Outcome::Failed;
            return Issue() ? Outcome::Overflowed : Outcome::Failed;
        }
        reading_ = false;
        // No bytes: more happened than the buffer holds.
        const Outcome outcome = bytes == 0 ? Outcome::Overflowed : Outcome::Records;
        const auto* at = reinterpret_cast<const unsigned char*>(buffer_.data());
        for (DWORD off = 0; bytes != 0;) {
            const auto& record = *reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at + off);
            each(record.Action,
                 std::wstring_view(record.FileName, record.FileNameLength / sizeof(wchar_t)));
            if (record.NextEntryOffset == 0) break;
            off += record.NextEntryOffset;
        }
        return Issue() ? outcome : Outcome::Failed;
    }

    bool Issue() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        ::ResetEvent(event_.get());
        reading_ = ::ReadDirectoryChangesW(dir_.get(), buffer_.data(),
                                           static_cast<DWORD>(buffer_.size() * sizeof(DWORD)),
                                           FALSE, filter_, nullptr, &overlapped_, nullptr) != FALSE;
        return reading_;
    }

    win32::UniqueHandle dir_;
    win32::UniqueHandle event_;
    OVERLAPPED overlapped_{};
    std::vector<DWORD> buffer_;
    DWORD filter_ = 0;
    bool reading_ = false;  // a read is under way: the buffer is the system's
};

// Whether `name` may be an 8.3 short name ("REPORT~1.TXT"): Windows may
// name an entry by it, and a listing gives the long one.
bool MayBeShortName(std::wstring_view name) {
    const std::size_t tilde = name.find(L'~');
    return name.size() <= 12 && tilde != std::wstring_view::npos && tilde + 1 < name.size() &&
           name[tilde + 1] >= L'0' && name[tilde + 1] <= L'9' &&
           std::none_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; });
}

class Win32Subscription final : public ChangeSubscription {
public:
    Win32Subscription(std::filesystem::path path, ChangeKind kind, win32::ChangeHandle parent)
        : path_(std::move(path)), kind_(kind), parent_(std::move(parent)) {}

    // Starts reading the folder's changes.
    std::error_code Open() {
        if (std::error_code ec = files_.Open(path_, kFilesFilter, kFilesBuffer)) return ec;
        return subFolders_.Open(path_, kSubFoldersFilter, kSubFoldersBuffer);
    }

    WaitResult Wait(const WakeEvent& stop,
                    std::optional<std::chrono::milliseconds> timeout) override {
        return WaitOn(stop, timeout, nullptr);
    }

    WaitResult WaitWith(const WakeEvent& stop, std::optional<std::chrono::milliseconds> timeout,
                        ChangeSubscription& companion) override {
        return WaitOn(stop, timeout, dynamic_cast<Win32Subscription*>(&companion));
    }

    bool TakeNames(std::vector<std::string>& names) override {
        names.clear();
        TakeSubFolders();
        const bool whole = files_ && subFolders_ && !namesLost_;
        if (whole) names.assign(names_.begin(), names_.end());
        names_.clear();
        namesLost_ = false;
        return whole;
    }

private:
    WaitResult WaitOn(const WakeEvent& stop, std::optional<std::chrono::milliseconds> timeout,
                      Win32Subscription* companion) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
        for (;;) {
            if (stop.IsSet()) return WaitResult::Stopped;
            // The stop comes through its own event: closing a change handle
            // does not end a wait on it under Wine, and Windows leaves that
            // undefined. The stop event is first, so it wins when both are
            // signalled.
            HANDLE handles[6] = {stop.NativeHandle()};
            DWORD count = 1;
            AddHandles(handles, count, true);
            const DWORD own = count;
            if (companion) companion->AddHandles(handles, count, false);
            std::optional<std::chrono::milliseconds> left;
            if (timeout) {
                left = std::chrono::ceil<std::chrono::milliseconds>(
                    std::max(Clock::duration::zero(), deadline - Clock::now()));
            }
            const DWORD r =
                ::WaitForMultipleObjects(count, handles, FALSE, win32::WaitMilliseconds(left));
            if (r == WAIT_OBJECT_0 || stop.IsSet()) return WaitResult::Stopped;
            if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
            const DWORD which = r - WAIT_OBJECT_0;
            if (which >= count) return Gone();  // a handle of ours failed
            // The companion is made anew by its owner after each report.
            if (which >= own) {
                if (companion && companion->Serve(handles[which]))
                    return WaitResult::CompanionChanged;
            } else if (auto result = Serve(handles[which])) {
                return *result;
            }
        }
    }

    // The handles a wait listens to; sub-folders only for the owner, who
    // keeps their names.
    void AddHandles(HANDLE* handles, DWORD& count, bool withSubFolders) const {
        if (files_) handles[count++] = files_.Event();
        if (withSubFolders && subFolders_) handles[count++] = subFolders_.Event();
        if (parent_) handles[count++] = parent_.get();
    }

    // What the signalled handle reports; nothing when its records do not
    // wake the waiter.
    std::optional<WaitResult> Serve(HANDLE signalled) {
        if (parent_ && signalled == parent_.get()) {
            if (!::FindNextChangeNotification(parent_.get())) parent_.Reset();
            return WaitResult::PathChanged;
        }
        if (subFolders_ && signalled == subFolders_.Event()) {
            TakeSubFolders();
            return std::nullopt;
        }
        bool wakes = false;
        const auto outcome = files_.TakeAll([&](DWORD action, std::wstring_view name) {
            const std::string noted = Note(name);
            wakes = wakes || Wakes(action, noted);
        });
        switch (outcome) {
            case DirectoryReader::Outcome::None:
                return std::nullopt;
            case DirectoryReader::Outcome::Failed:
                return Gone();
            case DirectoryReader::Outcome::Overflowed:
                if (!IsFolder(path_)) return Gone();
                namesLost_ = true;
                names_.clear();
                return WaitResult::Overflowed;
            case DirectoryReader::Outcome::Records:
                if (!wakes) return std::nullopt;
                // Read again already: a change made during the rescan that
                // follows is seen by the next wait.
                if (!IsFolder(path_)) return Gone();
                return WaitResult::Changed;
        }
        return std::nullopt;
    }

    // Sub-folders never wake the waiter: their names are only kept. A
    // reader that failed leaves every later take of names false.
    void TakeSubFolders() {
        const auto outcome =
            subFolders_.TakeAll([&](DWORD, std::wstring_view name) { Note(name); });
        if (outcome == DirectoryReader::Outcome::Overflowed) {
            namesLost_ = true;
            names_.clear();
        }
    }

    bool Wakes(DWORD action, std::string_view name) const {
        switch (kind_) {
            case ChangeKind::Names:
                return action != FILE_ACTION_MODIFIED;
            case ChangeKind::Updates:
                return true;
            case ChangeKind::Destination:
                // A move's own copy under way does not count. (The folder's
                // own attributes are no record of its read: a destination
                // made writable waits for the retry.)
                return !name.starts_with(kMoveTemporaryPrefix);
        }
        return true;
    }

    // Keeps the name of an entry something happened to, as a listing
    // gives it; returns it.
    std::string Note(std::wstring_view wide) {
        std::string noted = win32::Narrow(wide);
        if (namesLost_) return noted;
        if (MayBeShortName(wide)) {
            const std::wstring shortPath = (path_ / wide).native();
            std::wstring longPath(::GetLongPathNameW(shortPath.c_str(), nullptr, 0), L'\0');
            const DWORD n = ::GetLongPathNameW(shortPath.c_str(), longPath.data(),
                                               static_cast<DWORD>(longPath.size()));
            if (n == 0 || n >= longPath.size()) {
                // Gone already: its long name cannot be known.
                namesLost_ = true;
                names_.clear();
                return noted;
            }
            longPath.resize(n);
            noted = win32::Narrow(std::filesystem::path(longPath).filename().native());
        }
        names_.insert(noted);
        if (names_.size() > kMaxNotifiedNames) {
            namesLost_ = true;
            names_.clear();
        }
        return noted;
    }

    WaitResult Gone() {
        files_.Close();
        subFolders_.Close();
        return WaitResult::FolderGone;
    }

    const std::filesystem::path path_;
    const ChangeKind kind_;
    win32::ChangeHandle parent_;  // empty when the parent is not watched
    DirectoryReader files_;       // closed once the folder is gone
    DirectoryReader subFolders_;
    std::unordered_set<std::string> names_;  // since the last take
    bool namesLost_ = false;                 // names_ does not hold them all
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
        auto sub = std::make_unique<Win32Subscription>(folder, kind, WatchParent(folder));
        ec = sub->Open();
        if (ec) return nullptr;
        return sub;
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
        return std::make_unique<Win32Subscription>(folder, ChangeKind::Names, std::move(parent));
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
