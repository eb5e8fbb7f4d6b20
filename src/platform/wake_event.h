#pragma once

#include <chrono>
#include <memory>
#include <optional>

namespace tavren::platform {

// A flag that any thread can raise and that blocking waits of the platform
// layer (change notifications, child processes) watch together with what
// they wait for, so that raising it wakes every such wait at once. Once set
// it stays set; stopping and starting again uses a new event.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Set();
    bool IsSet() const;

    // Blocks until the event is set (true) or the timeout passes (false).
    bool WaitFor(std::optional<std::chrono::milliseconds> timeout) const;

    // For the platform layer's own waits only: a descriptor that polls
    // readable once the event is set (POSIX), or a manual-reset event object
    // to wait on with WaitForMultipleObjects (Windows).
#ifdef _WIN32
    using NativeType = void*;  // HANDLE
#else
    using NativeType = int;
#endif
    NativeType NativeHandle() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavren::platform
