#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <thread>

#include "platform/reload_request.h"

namespace tavren::platform {

// A console program cannot send Ctrl+Break to a console it does not share,
// and the tray has no request of this kind: the user restarts the watcher.
ReloadRequest AskToReload(long) {
    return ReloadRequest::Unsupported;
}

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

ReloadRequests::ReloadRequests() = default;
ReloadRequests::~ReloadRequests() = default;

bool ReloadRequests::WaitFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return false;
}

}  // namespace tavren::platform
