#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "platform/signals.h"
#include "platform/win32/reload_event.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// The console's control events play the part of the POSIX signals:
// Ctrl+C interrupts, Ctrl+Break reloads (it has no other use here), and
// closing the console, logging off or shutting down terminates. A program
// that loads user32.dll, as this one does, is not told of logging off or
// shutting down through its console: that comes as WM_ENDSESSION to its
// top-level windows, so a hidden one of its own takes it (and WM_CLOSE,
// which taskkill sends without /f).
//
// The system calls the handler on a thread of its own, and sends
// WM_ENDSESSION to the window's thread. For the terminating events it ends
// the process as soon as the handler returns (and after about five seconds
// in any case), so the handler holds that thread until the program has
// stopped watching.
constexpr auto kTerminateGrace = std::chrono::milliseconds(4500);
constexpr wchar_t kWindowClass[] = L"Tavren3.ControlSignals";
constexpr UINT kCloseWindow = WM_APP + 1;

struct ControlState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<ControlSignal> pending;
    bool receiving = false;
};

ControlState& Shared() {
    static ControlState state;
    return state;
}

// Queues `signal`; with `hold`, keeps the calling thread until the program
// has ended. False when nothing receives signals.
bool Deliver(ControlSignal signal, bool hold) {
    ControlState& s = Shared();
    std::unique_lock lock(s.mutex);
    if (!s.receiving) return false;
    s.pending.push_back(signal);
    s.changed.notify_all();
    if (hold) s.changed.wait_for(lock, kTerminateGrace, [&] { return !s.receiving; });
    return true;
}

BOOL WINAPI OnControlEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return Deliver(ControlSignal::Interrupt, false);
        case CTRL_BREAK_EVENT:
            return Deliver(ControlSignal::Reload, false);
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return Deliver(ControlSignal::Terminate, true);
        default:
            return FALSE;  // the default handling: end the process
    }
}

LRESULT CALLBACK OnWindowMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (w) Deliver(ControlSignal::Terminate, true);
            return 0;
        case WM_CLOSE:
            Deliver(ControlSignal::Terminate, false);
            return 0;
        case kCloseWindow:
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, w, l);
    }
}

// Makes the hidden top-level window, tells `made` of it (null when it could
// not be made), and runs its messages until it is destroyed.
void RunWindow(std::promise<HWND>& made) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &OnWindowMessage;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassExW(&wc);  // fails harmlessly when registered before
    // A tool window of no size, never shown: no taskbar button.
    const HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, nullptr, WS_OVERLAPPED, 0,
                                          0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    made.set_value(window);
    if (!window) return;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
}

}  // namespace

struct ControlSignals::State {
    // A reload asked for by the command line (AskToReload), which cannot
    // send Ctrl+Break to a console it does not share.
    win32::UniqueHandle reloadEvent;
    win32::UniqueHandle stopEvent;
    std::thread reloadWaiter;
    HWND window = nullptr;
    std::thread windowThread;
};

ControlSignals::ControlSignals() : state_(std::make_unique<State>()) {
    ControlState& shared = Shared();
    {
        std::lock_guard lock(shared.mutex);
        shared.receiving = true;
        shared.pending.clear();
    }
    // A parent that ignores Ctrl+C passes that on to the programs it
    // starts; the user's Ctrl+C must end the watcher all the same.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(&OnControlEvent, TRUE);

    State& s = *state_;
    s.reloadEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE,
                                       win32::ReloadEventName(::GetCurrentProcessId()).c_str()));
    s.stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (s.reloadEvent && s.stopEvent) {
        s.reloadWaiter = std::thread([&s, &shared] {
            const HANDLE events[] = {s.stopEvent.get(), s.reloadEvent.get()};
            while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                std::lock_guard lock(shared.mutex);
                shared.pending.push_back(ControlSignal::Reload);
                shared.changed.notify_all();
            }
        });
    }
    std::promise<HWND> made;
    std::future<HWND> window = made.get_future();
    s.windowThread = std::thread([&made] { RunWindow(made); });
    s.window = window.get();
}

ControlSignals::~ControlSignals() {
    ControlState& shared = Shared();
    {
        std::lock_guard lock(shared.mutex);
        shared.receiving = false;
    }
    shared.changed.notify_all();  // releases a terminating handler
    State& s = *state_;
    if (s.reloadWaiter.joinable()) {
        ::SetEvent(s.stopEvent.get());
        s.reloadWaiter.join();
    }
    if (s.window) ::PostMessageW(s.window, kCloseWindow, 0, 0);
    s.windowThread.join();
    ::SetConsoleCtrlHandler(&OnControlEvent, FALSE);
}

ControlSignal ControlSignals::Wait() {
    ControlState& s = Shared();
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.pending.empty(); });
    const ControlSignal signal = s.pending.front();
    s.pending.pop_front();
    return signal;
}

std::optional<ControlSignal> ControlSignals::WaitFor(int milliseconds) {
    ControlState& s = Shared();
    std::unique_lock lock(s.mutex);
    if (!s.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [&] { return !s.pending.empty(); }))
        return std::nullopt;
    const ControlSignal signal = s.pending.front();
    s.pending.pop_front();
    return signal;
}

// Windows has no SIGPIPE: a write to a closed pipe fails by itself.
void IgnoreBrokenPipe() {}

}  // namespace tavren::platform
