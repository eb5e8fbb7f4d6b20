#pragma once

namespace tavren::platform {

// Asking a running watcher, known by the process id in its data folder's
// lock, to read its settings file again after another program changed it:
// SIGHUP on POSIX systems, a named event on Windows. The watcher receives
// it through its ControlSignals.
enum class ReloadRequest {
    Sent,         // the watcher was told
    Unsupported,  // this system has no way to tell it: it must be restarted
    Failed,       // the process could not be reached (gone, another user's)
};

ReloadRequest AskToReload(long pid);

// This process's id, as a data folder's lock records it.
long CurrentProcessId();

}  // namespace tavren::platform
