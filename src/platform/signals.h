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

}  // namespace tavren::platform
