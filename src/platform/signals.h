#pragma once

namespace tavren::platform {

enum class ControlSignal { Interrupt, Terminate, Reload };

// Receives the process-control signals (SIGINT, SIGTERM, SIGHUP) as events
// instead of handlers. Construct it on the main thread before any other
// thread starts, so that every thread inherits the blocked mask and only
// Wait() ever receives them.
class ControlSignals {
public:
    ControlSignals();
    ~ControlSignals();
    ControlSignals(const ControlSignals&) = delete;
    ControlSignals& operator=(const ControlSignals&) = delete;

    // Blocks until one of the signals arrives.
    ControlSignal Wait();
};

// A write to a pipe or socket whose reader is gone fails (EPIPE) instead of
// ending the process: a reader of the watcher's output that quits must not
// stop the watching. Programs started by the process begin with SIGPIPE at
// its default all the same (process.h). A no-op on Windows.
void IgnoreBrokenPipe();

}  // namespace tavren::platform
