#include <atomic>

#include "platform/wake_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

// A manual-reset event: once set it stays signalled, so every waiter wakes,
// including those that start waiting later.
struct WakeEvent::Impl {
    win32::UniqueHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> set{false};
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Set() {
    if (impl_->set.exchange(true)) return;
    ::SetEvent(impl_->event.get());
}

bool WakeEvent::IsSet() const {
    return impl_->set.load();
}

bool WakeEvent::WaitFor(std::optional<std::chrono::milliseconds> timeout) const {
    if (IsSet()) return true;
    ::WaitForSingleObject(impl_->event.get(), win32::WaitMilliseconds(timeout));
    return IsSet();
}

WakeEvent::NativeType WakeEvent::NativeHandle() const {
    return impl_->event.get();
}

}  // namespace tavren::platform
