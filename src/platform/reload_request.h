#pragma once

#include <memory>

namespace tavren::platform {

// Asking a running watcher, known by the process id in its data folder's
// lock, to read its settings file again after another program changed it:
// SIGHUP on POSIX systems, a named event on Windows.
enum class ReloadRequest {
    Sent,         // the watcher was told
    Unsupported,  // this system has no way to tell it: it must be restarted
    Failed,       // the process could not be reached (gone, another user's)
};

ReloadRequest AskToReload(long pid);

// This process's id, as a data folder's lock records it.
long CurrentProcessId();

// Receives the reload request in a program whose main thread runs an event
// loop of its own (the tray program): a thread waits in WaitFor() and hands
// the request over. Construct it on the main thread before any other thread
// starts, so that every thread inherits the blocked signal and only
// WaitFor() receives it.
class ReloadRequests {
public:
    ReloadRequests();
    ~ReloadRequests();
    ReloadRequests(const ReloadRequests&) = delete;
    ReloadRequests& operator=(const ReloadRequests&) = delete;

    // True when a request came within `milliseconds`.
    bool WaitFor(int milliseconds);

private:
    struct Channel;  // what the system delivers requests through
    std::unique_ptr<Channel> channel_;
};

}  // namespace tavren::platform
