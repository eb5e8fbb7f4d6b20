#include "platform/reload_request.h"
#include "platform/win32/reload_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

// A watcher that takes requests has its event open (through ControlSignals);
// without one, the request cannot be delivered and the user restarts the
// watcher.
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

}  // namespace tavren::platform
