#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/signals.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// The console's control events play the part of the POSIX signals:
// Ctrl+C interrupts, Ctrl+Break reloads (it has no other use here), and
// closing the console, logging off or shutting down terminates.
//
// The system calls the handler on a thread of its own. For the terminating
// events it ends the process as soon as the handler returns (and after
// about five seconds in any case), so the handler holds that thread until
// the program has stopped watching.
constexpr auto kTerminateGrace = std::chrono::milliseconds(4500);

struct ControlState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<ControlSignal> pending;
    bool receiving = false;
};

ControlState& State() {
    static ControlState state;
    return state;
}

BOOL WINAPI OnControlEvent(DWORD event) {
    ControlSignal signal;
    switch (event) {
        case CTRL_C_EVENT:
            signal = ControlSignal::Interrupt;
            break;
        case CTRL_BREAK_EVENT:
            signal = ControlSignal::Reload;
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signal = ControlSignal::Terminate;
            break;
        default:
            return FALSE;
    }
    ControlState& s = State();
    std::unique_lock lock(s.mutex);
    if (!s.receiving) return FALSE;  // the default handling: end the process
    s.pending.push_back(signal);
    s.changed.notify_all();
    if (signal == ControlSignal::Terminate) {
        s.changed.wait_for(lock, kTerminateGrace, [&] { return !s.receiving; });
    }
    return TRUE;
}

}  // namespace

ControlSignals::ControlSignals() {
    {
        std::lock_guard lock(State().mutex);
        State().receiving = true;
        State().pending.clear();
    }
    // A parent that ignores Ctrl+C passes that on to the programs it
    // starts; the user's Ctrl+C must end the watcher all the same.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(&OnControlEvent, TRUE);
}

ControlSignals::~ControlSignals() {
    {
        std::lock_guard lock(State().mutex);
        State().receiving = false;
    }
    State().changed.notify_all();  // releases a terminating handler
    ::SetConsoleCtrlHandler(&OnControlEvent, FALSE);
}

ControlSignal ControlSignals::Wait() {
    ControlState& s = State();
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.pending.empty(); });
    const ControlSignal signal = s.pending.front();
    s.pending.pop_front();
    return signal;
}

}  // namespace tavren::platform
