#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/change_watcher.h"
#include "platform/file_mover.h"
#include "platform/posix/poll_util.h"
#include "platform/posix/unique_fd.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

using posix::PollReadable;
using posix::UniqueFd;

constexpr std::uint32_t kNamesMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kUpdatesMask = IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr std::uint32_t kDestinationMask = kNamesMask | kUpdatesMask;
constexpr std::uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// On the parent: the folder's name made, removed or renamed (a symbolic
// link re-pointed is renamed over), or the parent itself going.
constexpr std::uint32_t kParentMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

void Signal(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}

// The name inotify gives an unnamed file (O_TMPFILE) that is written in a
// watched folder: "#" and its inode number.
bool IsUnnamed(std::string_view name) {
    return name.size() > 1 && name[0] == '#' &&
           name.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

// What a subscription has to report, as bits, most urgent first.
enum Pending : unsigned {
    kGone = 1,
    kPathChanged = 2,
    kOverflowed = 4,
    kChanged = 8,
    kClosed = 16,
};

class InotifyWatcher;

class InotifySubscription final : public ChangeSubscription {
public:
    InotifySubscription(InotifyWatcher& owner, std::uint32_t mask, std::string name,
                        bool destination = false)
        : owner_(owner),
          mask_(mask),
          name_(std::move(name)),
          destination_(destination),
          keepsNames_(mask != 0 && !destination) {}
    ~InotifySubscription() override;

    // Why its wake descriptor could not be made (descriptors ran out); 0
    // when it was. Without it no change would ever wake the waiter.
    int WakeError() const { return pending_ ? 0 : wakeError_; }

    WaitResult Wait(const WakeEvent& stop,
                    std::optional<std::chrono::milliseconds> timeout) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
        for (;;) {
            if (stop.IsSet()) return WaitResult::Stopped;
            if (auto result = Take()) return *result;
            std::optional<std::chrono::milliseconds> left;
            if (timeout) {
                left = std::chrono::ceil<std::chrono::milliseconds>(
                    std::max(Clock::duration::zero(), deadline - Clock::now()));
            }
            pollfd fds[2] = {{stop.NativeHandle(), POLLIN, 0}, {pending_.get(), POLLIN, 0}};
            if (!PollReadable(fds, 2, left)) return WaitResult::TimedOut;
            Drain(pending_.get());
        }
    }

    WaitResult WaitWith(const WakeEvent& stop, std::optional<std::chrono::milliseconds> timeout,
                        ChangeSubscription& companion) override {
        auto* other = dynamic_cast<InotifySubscription*>(&companion);
        if (!other) return Wait(stop, timeout);
        using Clock = std::chrono::steady_clock;
        const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
        for (;;) {
            if (stop.IsSet()) return WaitResult::Stopped;
            if (auto result = Take()) return *result;
            if (other->Take()) return WaitResult::CompanionChanged;
            std::optional<std::chrono::milliseconds> left;
            if (timeout) {
                left = std::chrono::ceil<std::chrono::milliseconds>(
                    std::max(Clock::duration::zero(), deadline - Clock::now()));
            }
            pollfd fds[3] = {{stop.NativeHandle(), POLLIN, 0},
                             {pending_.get(), POLLIN, 0},
                             {other->pending_.get(), POLLIN, 0}};
            if (!PollReadable(fds, 3, left)) return WaitResult::TimedOut;
            Drain(pending_.get());
            Drain(other->pending_.get());
        }
    }

    // Called by the dispatcher with the watcher's lock held: an event on the
    // folder itself (`asParent` false) or on its parent.
    void Deliver(std::uint32_t eventMask, std::string_view name, bool asParent) {
        unsigned bits = 0;
        if (eventMask & IN_Q_OVERFLOW) {
            bits = asParent ? kPathChanged : kOverflowed;
            if (!asParent) LoseNames();
        } else if (asParent) {
            const bool self = eventMask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED);
            if (!self && !((eventMask & kParentMask) && name == name_)) return;
            bits = kPathChanged;
        } else if (eventMask & kSelfMask) {
            bits = kGone;
        } else {
            if (keepsNames_ && !name.empty()) bits = Note(eventMask, name);
            if (destination_ && name.empty() && (eventMask & IN_ATTRIB)) {
                bits |= kChanged;  // the folder's own mode or owner
            } else if ((eventMask & IN_ISDIR) || !(eventMask & mask_)) {
                // sub-folders never wake; other kinds belong to other subscribers
            } else if (destination_ &&
                       (name.starts_with(kMoveTemporaryPrefix) || IsUnnamed(name))) {
                // a move's own copy under way
            } else {
                bits |= kChanged;
            }
            if (bits == 0) return;
        }
        pendingBits_.fetch_or(bits);
        Signal(pending_.get());
    }

    bool TakeNames(std::vector<std::string>& names) override {
        names.clear();
        std::lock_guard lock(namesMutex_);
        const bool complete = keepsNames_ && !namesLost_;
        namesLost_ = false;
        if (complete) {
            names.reserve(names_.size());
            for (auto it = names_.begin(); it != names_.end();)
                names.push_back(std::move(names_.extract(it++).value()));
        }
        names_.clear();
        return complete;
    }

    void WakeOnClose(std::vector<std::string> names) override {
        std::lock_guard lock(namesMutex_);
        wakeOnClose_.clear();
        for (std::string& n : names) wakeOnClose_.insert(std::move(n));
    }

    // The system dropped events: names since the last take are not all.
    void LoseNames() {
        std::lock_guard lock(namesMutex_);
        namesLost_ = true;
        names_.clear();
    }

    int wd = -1;        // the folder's watch; -1 when only its parent is watched
    int parentWd = -1;  // -1 when the parent is not watched

private:
    // Keeps the name of an entry something happened to; kClosed when it
    // is a file waited on that its writer closed.
    unsigned Note(std::uint32_t eventMask, std::string_view name) {
        std::lock_guard lock(namesMutex_);
        if (!namesLost_) {
            if (names_.size() < kMaxNotifiedNames) {
                names_.emplace(name);
            } else {
                namesLost_ = true;  // a listing costs less than so many names
                names_.clear();
            }
        }
        if ((eventMask & IN_CLOSE_WRITE) && wakeOnClose_.contains(std::string(name)))
            return kClosed;
        return 0;
    }

    std::optional<WaitResult> Take() {
        const unsigned bits = pendingBits_.load();
        if (bits == 0) return std::nullopt;
        const unsigned take = bits & (~bits + 1);  // the lowest bit: the most urgent
        pendingBits_.fetch_and(~take);
        switch (take) {
            case kGone:
                gone_ = true;
                return WaitResult::FolderGone;
            case kPathChanged:
                return WaitResult::PathChanged;
            case kOverflowed:
                return WaitResult::Overflowed;
            case kClosed:
                return gone_ ? std::nullopt : std::optional(WaitResult::Closed);
            default:  // the folder's own changes end with it
                return gone_ ? std::nullopt : std::optional(WaitResult::Changed);
        }
    }

    InotifyWatcher& owner_;
    const std::uint32_t mask_;
    const std::string name_;  // the folder's name in its parent
    const bool destination_;  // ChangeKind::Destination
    UniqueFd pending_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    const int wakeError_ = errno;  // right after the eventfd: its error, if it failed
    std::atomic<unsigned> pendingBits_{0};
    bool gone_ = false;  // only the waiting worker touches it
    // The folder's entry names since the last take (its main watch only).
    const bool keepsNames_;
    std::mutex namesMutex_;
    std::unordered_set<std::string> names_;
    bool namesLost_ = false;
    std::unordered_set<std::string> wakeOnClose_;
};

class InotifyWatcher final : public ChangeWatcher {
public:
    InotifyWatcher() {
        if (!inotify_) initError_ = errno;
        if (inotify_ && shutdown_) dispatcher_ = std::thread([this] { Dispatch(); });
    }

    ~InotifyWatcher() override {
        Signal(shutdown_.get());
        if (dispatcher_.joinable()) dispatcher_.join();
    }

    std::unique_ptr<ChangeSubscription> Watch(const std::filesystem::path& folder, ChangeKind kind,
                                              std::error_code& ec) override {
        if (!Usable(ec)) return nullptr;
        const std::uint32_t mask = kind == ChangeKind::Names     ? kNamesMask
                                   : kind == ChangeKind::Updates ? kUpdatesMask
                                                                 : kDestinationMask;
        // Every kind is watched, whatever wakes the waiter: a look goes by
        // the names of all changes since the one before.
        const PlaceInParent place = PlaceOf(folder);
        auto sub = std::make_unique<InotifySubscription>(*this, mask, place.name.native(),
                                                         kind == ChangeKind::Destination);
        if (!Wakes(*sub, ec)) return nullptr;
        std::lock_guard lock(mutex_);
        // IN_MASK_ADD: two entries may watch the same folder for different
        // kinds, or one entry's folder may be another's parent.
        sub->wd = ::inotify_add_watch(inotify_.get(), folder.c_str(),
                                      kDestinationMask | kSelfMask | IN_ONLYDIR | IN_MASK_ADD);
        if (sub->wd < 0) {
            ec = {errno, std::generic_category()};
            return nullptr;
        }
        subscribers_[sub->wd].push_back({sub.get(), false});
        if (!place.parent.empty()) AddParentWatch(*sub, place.parent);
        return sub;
    }

    std::unique_ptr<ChangeSubscription> WatchForFolder(const std::filesystem::path& folder,
                                                       std::error_code& ec) override {
        if (!Usable(ec)) return nullptr;
        const PlaceInParent place = PlaceOf(folder);
        if (place.parent.empty()) {
            ec = std::make_error_code(std::errc::invalid_argument);
            return nullptr;
        }
        auto sub = std::make_unique<InotifySubscription>(*this, 0, place.name.native());
        if (!Wakes(*sub, ec)) return nullptr;
        std::lock_guard lock(mutex_);
        if (!AddParentWatch(*sub, place.parent)) {
            ec = {errno, std::generic_category()};
            return nullptr;
        }
        return sub;
    }

    void Unsubscribe(InotifySubscription* sub) {
        std::lock_guard lock(mutex_);
        for (const int wd : {sub->wd, sub->parentWd}) {
            if (wd < 0) continue;
            auto it = subscribers_.find(wd);
            if (it == subscribers_.end()) continue;
            std::erase_if(it->second, [sub](const Listener& l) { return l.sub == sub; });
            if (it->second.empty()) {
                subscribers_.erase(it);
                ::inotify_rm_watch(inotify_.get(), wd);
            }
        }
    }

private:
    struct Listener {
        InotifySubscription* sub;
        bool asParent;
    };

    bool Usable(std::error_code& ec) const {
        ec.clear();
        if (inotify_ && dispatcher_.joinable()) return true;
        // EMFILE here means the per-user limit of inotify instances.
        ec = initError_ ? std::error_code(initError_, std::generic_category())
                        : std::make_error_code(std::errc::function_not_supported);
        return false;
    }

    static bool Wakes(const InotifySubscription& sub, std::error_code& ec) {
        if (const int error = sub.WakeError()) ec = {error, std::generic_category()};
        return !ec;
    }

    // With the lock held.
    bool AddParentWatch(InotifySubscription& sub, const std::filesystem::path& parent) {
        const int wd = ::inotify_add_watch(inotify_.get(), parent.c_str(),
                                           kParentMask | IN_ONLYDIR | IN_MASK_ADD);
        if (wd < 0) return false;
        sub.parentWd = wd;
        subscribers_[wd].push_back({&sub, true});
        return true;
    }

    void Dispatch() {
        alignas(inotify_event) char buffer[64 * 1024];
        pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {shutdown_.get(), POLLIN, 0}};
        for (;;) {
            PollReadable(fds, 2, std::nullopt);
            if (fds[1].revents) return;
            const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
            if (n <= 0) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return;
            }
            std::lock_guard lock(mutex_);
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) {  // events were lost: wake everybody
                    for (auto& [wd, listeners] : subscribers_) {
                        for (const Listener& l : listeners)
                            l.sub->Deliver(IN_Q_OVERFLOW, {}, l.asParent);
                    }
                    continue;
                }
                auto it = subscribers_.find(ev->wd);
                if (it == subscribers_.end()) continue;
                const std::string_view name =
                    ev->len ? std::string_view(ev->name) : std::string_view();
                for (const Listener& l : it->second) l.sub->Deliver(ev->mask, name, l.asParent);
                if (ev->mask & IN_IGNORED) {
                    // The kernel dropped the watch; its number may come back
                    // for another folder.
                    for (const Listener& l : it->second)
                        (l.asParent ? l.sub->parentWd : l.sub->wd) = -1;
                    subscribers_.erase(it);
                }
            }
        }
    }

    UniqueFd inotify_{::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)};
    int initError_ = 0;
    UniqueFd shutdown_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex mutex_;
    std::unordered_map<int, std::vector<Listener>> subscribers_;
    std::thread dispatcher_;  // last: it starts after everything above exists
};

InotifySubscription::~InotifySubscription() {
    owner_.Unsubscribe(this);
}

}  // namespace

std::string ChangeLimitAdvice(const std::error_code& ec) {
    if (ec == std::errc::no_space_on_device) {
        return "変更通知で見張れるフォルダの数が上限に達したため、一部のフォルダは一定間隔で"
               "調べます。上限は sysctl の fs.inotify.max_user_watches で引き上げられます。";
    }
    if (ec == std::errc::too_many_files_open) {
        // The process's descriptors, or the user's inotify instances.
        return "変更通知 (inotify) またはファイル記述子の数が上限に達したため、フォルダを一定間隔で"
               "調べます。上限は sysctl の fs.inotify.max_user_instances と ulimit -n で"
               "引き上げられます。";
    }
    return {};
}

std::string ChangeOverflowAdvice() {
    return "変更通知があふれたため、すべてのフォルダを調べ直しました。たびたび起きるときは "
           "sysctl の fs.inotify.max_queued_events を引き上げてください。";
}

std::unique_ptr<ChangeWatcher> MakeChangeWatcher() {
    return std::make_unique<InotifyWatcher>();
}

}  // namespace tavren::platform
