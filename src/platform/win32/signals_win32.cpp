#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/signals.h"
#include "platform/win32/reload_event.h"
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
    // A reload asked for by the command line (AskToReload), which cannot
    // send Ctrl+Break to a console it does not share.
    win32::UniqueHandle reloadEvent;
    win32::UniqueHandle stopEvent;
    std::thread reloadWaiter;
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

    ControlState& s = State();
    s.reloadEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE,
                                       win32::ReloadEventName(::GetCurrentProcessId()).c_str()));
    s.stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (s.reloadEvent && s.stopEvent) {
        s.reloadWaiter = std::thread([&s] {
            const HANDLE events[] = {s.stopEvent.get(), s.reloadEvent.get()};
            while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                std::lock_guard lock(s.mutex);
                s.pending.push_back(ControlSignal::Reload);
                s.changed.notify_all();
            }
        });
    }
}

ControlSignals::~ControlSignals() {
    ControlState& s = State();
    if (s.reloadWaiter.joinable()) {
        ::SetEvent(s.stopEvent.get());
        s.reloadWaiter.join();
    }
    s.reloadEvent.Reset();
    s.stopEvent.Reset();
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

// Windows has no SIGPIPE: a write to a closed pipe fails by itself.
void IgnoreBrokenPipe() {}

}  // namespace tavren::platform
