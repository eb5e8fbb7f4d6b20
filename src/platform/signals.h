#pragma once

#include <memory>
#include <optional>

namespace tavren::platform {

enum class ControlSignal { Interrupt, Terminate, Reload };

// Receives the requests to end or reload that come from outside as events
// instead of handlers: SIGINT, SIGTERM and SIGHUP on POSIX systems; on
// Windows the console's control events, the end of the session and WM_CLOSE
// (to a hidden window of its own), and the command line's reload event.
// Construct it on the main thread before any other thread starts, so that
// every thread inherits the blocked mask and only Wait() and WaitFor()
// ever receive them. One that comes while the program ends, after the last
// wait, is taken quietly by the destructor, which restores the mask.
class ControlSignals {
public:
    ControlSignals();
    ~ControlSignals();
    ControlSignals(const ControlSignals&) = delete;
    ControlSignals& operator=(const ControlSignals&) = delete;

    // Blocks until one of the signals arrives.
    ControlSignal Wait();

    // The signal that came within `milliseconds`, else nothing: for a
    // thread of its own that must also see when to stop.
    std::optional<ControlSignal> WaitFor(int milliseconds);

private:
    struct State;  // what the system delivers through, and what to restore
    std::unique_ptr<State> state_;
};

// A write to a pipe or socket whose reader is gone fails (EPIPE) instead of
// ending the process: a reader of the watcher's output that quits must not
// stop the watching. Programs started by the process begin with SIGPIPE at
// its default all the same (process.h). A no-op on Windows.
void IgnoreBrokenPipe();

}  // namespace tavren::platform
