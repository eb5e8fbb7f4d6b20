#pragma once

#include <string>

namespace tavren::platform::win32 {

// The event on which a watcher waits for a reload request: named by its
// process id, in the session's own namespace, so that the command line
// finds it from the id in the data folder's lock.
inline std::wstring ReloadEventName(unsigned long pid) {
    return L"Local\\Tavren3-reload-" + std::to_wstring(pid);
}

}  // namespace tavren::platform::win32
