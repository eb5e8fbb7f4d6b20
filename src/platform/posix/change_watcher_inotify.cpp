#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/change_watcher.h"
#include "platform/posix/poll_util.h"
#include "platform/posix/unique_fd.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

using posix::PollReadable;
using posix::UniqueFd;

constexpr std::uint32_t kNamesMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kUpdatesMask = IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr std::uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

void Signal(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void Drain(int fd) {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
}

class InotifyWatcher;

class InotifySubscription final : public ChangeSubscription {
public:
    InotifySubscription(InotifyWatcher& owner, int wd, std::uint32_t mask)
        : owner_(owner), wd_(wd), mask_(mask) {}
    ~InotifySubscription() override;

    WaitResult Wait(const WakeEvent& stop,
                    std::optional<std::chrono::milliseconds> timeout) override {
        if (goneReported_) return stop.WaitFor(timeout) ? WaitResult::Stopped : WaitResult::TimedOut;
        pollfd fds[2] = {{stop.NativeHandle(), POLLIN, 0}, {pending_.get(), POLLIN, 0}};
        if (stop.IsSet()) return WaitResult::Stopped;
        if (!PollReadable(fds, 2, timeout)) return WaitResult::TimedOut;
        if (stop.IsSet()) return WaitResult::Stopped;
        Drain(pending_.get());
        if (gone_.load()) {
            goneReported_ = true;
            return WaitResult::FolderGone;
        }
        return WaitResult::Changed;
    }

    // Called by the dispatcher with the watcher's lock held.
    void Deliver(std::uint32_t eventMask) {
        if (eventMask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
            gone_.store(true);
        } else if ((eventMask & IN_ISDIR) || !(eventMask & (mask_ | IN_Q_OVERFLOW))) {
            return;  // sub-folders never count; other kinds belong to other subscribers
        }
        Signal(pending_.get());
    }

    int wd() const { return wd_; }

private:
    InotifyWatcher& owner_;
    const int wd_;
    const std::uint32_t mask_;
    UniqueFd pending_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> gone_{false};
    bool goneReported_ = false;  // only the waiting worker touches it
};

class InotifyWatcher final : public ChangeWatcher {
public:
    InotifyWatcher() {
        if (inotify_ && shutdown_) dispatcher_ = std::thread([this] { Dispatch(); });
    }

    ~InotifyWatcher() override {
        Signal(shutdown_.get());
        if (dispatcher_.joinable()) dispatcher_.join();
    }

    std::unique_ptr<ChangeSubscription> Watch(const std::filesystem::path& folder, ChangeKind kind,
                                              std::error_code& ec) override {
        ec.clear();
        if (!inotify_ || !dispatcher_.joinable()) {
            ec = std::make_error_code(std::errc::function_not_supported);
            return nullptr;
        }
        const std::uint32_t mask = kind == ChangeKind::Names ? kNamesMask : kUpdatesMask;
        std::lock_guard lock(mutex_);
        // IN_MASK_ADD: two entries may watch the same folder for different kinds.
        const int wd = ::inotify_add_watch(inotify_.get(), folder.c_str(),
                                           mask | kSelfMask | IN_ONLYDIR | IN_MASK_ADD);
        if (wd < 0) {
            ec = {errno, std::generic_category()};
            return nullptr;
        }
        auto sub = std::make_unique<InotifySubscription>(*this, wd, mask);
        subscribers_[wd].push_back(sub.get());
        return sub;
    }

    void Unsubscribe(InotifySubscription* sub) {
        std::lock_guard lock(mutex_);
        auto it = subscribers_.find(sub->wd());
        if (it == subscribers_.end()) return;
        std::erase(it->second, sub);
        if (it->second.empty()) {
            subscribers_.erase(it);
            ::inotify_rm_watch(inotify_.get(), sub->wd());
        }
    }

private:
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
                    for (auto& [wd, subs] : subscribers_) {
                        for (auto* s : subs) s->Deliver(IN_Q_OVERFLOW);
                    }
                    continue;
                }
                auto it = subscribers_.find(ev->wd);
                if (it == subscribers_.end()) continue;
                for (auto* s : it->second) s->Deliver(ev->mask);
                if (ev->mask & IN_IGNORED) subscribers_.erase(it);  // the kernel dropped the watch
            }
        }
    }

    UniqueFd inotify_{::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)};
    UniqueFd shutdown_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::mutex mutex_;
    std::unordered_map<int, std::vector<InotifySubscription*>> subscribers_;
    std::thread dispatcher_;  // last: it starts after everything above exists
};

InotifySubscription::~InotifySubscription() { owner_.Unsubscribe(this); }

}  // namespace

std::unique_ptr<ChangeWatcher> MakeChangeWatcher() { return std::make_unique<InotifyWatcher>(); }

}  // namespace tavren::platform
