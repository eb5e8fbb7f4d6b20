#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/posix/poll_util.h"
#include "platform/posix/unique_fd.h"
#include "platform/wake_event.h"

namespace tavren::platform {

struct WakeEvent::Impl {
    posix::UniqueFd fd{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> set{false};
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Set() {
    if (impl_->set.exchange(true)) return;
    // Never read back, so the descriptor stays readable for every poller.
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(impl_->fd.get(), &one, sizeof one);
}

bool WakeEvent::IsSet() const { return impl_->set.load(); }

bool WakeEvent::WaitFor(std::optional<std::chrono::milliseconds> timeout) const {
    if (IsSet()) return true;
    pollfd fd{impl_->fd.get(), POLLIN, 0};
    posix::PollReadable(&fd, 1, timeout);
    return IsSet();
}

int WakeEvent::NativeHandle() const { return impl_->fd.get(); }

}  // namespace tavren::platform
