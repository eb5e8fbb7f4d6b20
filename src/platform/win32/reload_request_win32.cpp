#include "platform/reload_request.h"
#include "platform/win32/reload_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

// A watcher that takes requests has its event open (the headless runner
// through ControlSignals); without one, the request cannot be delivered
// and the user restarts the watcher.
ReloadRequest AskToReload(long pid) {
    if (pid <= 0) return ReloadRequest::Failed;
    const win32::UniqueHandle event(::OpenEventW(
        EVENT_MODIFY_STATE, FALSE, win32::ReloadEventName(static_cast<DWORD>(pid)).c_str()));
    if (!event) return ReloadRequest::Unsupported;
    return ::SetEvent(event.get()) ? ReloadRequest::Sent : ReloadRequest::Failed;
}

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

struct ReloadRequests::Channel {
    win32::UniqueHandle event;
};

ReloadRequests::ReloadRequests() : channel_(std::make_unique<Channel>()) {
    channel_->event.Reset(::CreateEventW(nullptr, FALSE, FALSE,
                                         win32::ReloadEventName(::GetCurrentProcessId()).c_str()));
}

ReloadRequests::~ReloadRequests() = default;

bool ReloadRequests::WaitFor(int milliseconds) {
    if (!channel_->event) {
        ::Sleep(static_cast<DWORD>(milliseconds));
        return false;
    }
    return ::WaitForSingleObject(channel_->event.get(), static_cast<DWORD>(milliseconds)) ==
           WAIT_OBJECT_0;
}

}  // namespace tavren::platform
