#include "app/win32/box_message_sink.h"

#include <windows.h>

#include "app/box_cascade.h"
#include "platform/wake_event.h"
#include "platform/win32/wide_text.h"

namespace tavren::app::win32 {
namespace {

// What the timer of the box on this thread checks.
struct BoxWatch {
    const BoxMessageSink* sink;
    const platform::WakeEvent* cancel;
};
thread_local const BoxWatch* t_watch = nullptr;

BOOL CALLBACK PressOk(HWND window, LPARAM) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring_view(name) == L"#32770") ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CloseBoxesOf(DWORD thread) {
    ::EnumThreadWindows(thread, PressOk, 0);
}

// The place (box_cascade.h) of the box this thread is about to show.
thread_local int t_place = -1;

// Moves the box to its place as it is first activated: created and sized
// by then, not yet drawn.
LRESULT CALLBACK PlaceBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_place > 0) {
        const auto box = reinterpret_cast<HWND>(wParam);
        RECT r{};
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (::GetWindowRect(box, &r) &&
            ::GetMonitorInfoW(::MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& work = monitor.rcWork;
            const int step = ::GetSystemMetrics(SM_CYCAPTION) + ::GetSystemMetrics(SM_CYFRAME);
            const BoxRect at = CascadeBox(
                t_place, {r.left, r.top, r.right - r.left, r.bottom - r.top},
                {work.left, work.top, work.right - work.left, work.bottom - work.top}, step);
            ::SetWindowPos(box, nullptr, at.x, at.y, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        t_place = -1;  // once: the user may move it on
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The hook that places this thread's box, for as long as the box shows.
class PlaceHook {
public:
    explicit PlaceHook(int place)
        : hook_(::SetWindowsHookExW(WH_CBT, PlaceBox, nullptr, ::GetCurrentThreadId())) {
        t_place = place;
    }
    ~PlaceHook() {
        t_place = -1;
        if (hook_) ::UnhookWindowsHookEx(hook_);
    }
    PlaceHook(const PlaceHook&) = delete;
    PlaceHook& operator=(const PlaceHook&) = delete;

private:
    HHOOK hook_;
};

// Runs inside the box's own message loop, on the box's thread.
void CALLBACK CheckCancel(HWND, UINT, UINT_PTR, DWORD) {
    if (t_watch && (t_watch->sink->closing() || (t_watch->cancel && t_watch->cancel->IsSet())))
        CloseBoxesOf(::GetCurrentThreadId());
}

}  // namespace

BoxMessageSink::BoxMessageSink(std::function<void()> statusChanged)
    : statusChanged_(std::move(statusChanged)) {}

BoxMessageSink::~BoxMessageSink() {
    CloseAll();
    std::vector<std::thread> reports;
    {
        std::lock_guard lock(mutex_);
        reports.swap(reports_);
    }
    for (std::thread& t : reports) t.join();
}

void BoxMessageSink::ShowMessage(std::string_view text, const platform::WakeEvent& cancel) {
    ShowBox(text, &cancel);
}

void BoxMessageSink::ReportProblem(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    reports_.emplace_back([this, message = std::string(text)] { ShowBox(message, nullptr); });
}

void BoxMessageSink::StatusChanged(const engine::WatchStatus&) {
    if (statusChanged_) statusChanged_();
}

void BoxMessageSink::CloseAll() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    for (unsigned long thread : boxThreads_) CloseBoxesOf(thread);
}

bool BoxMessageSink::closing() const {
    std::lock_guard lock(mutex_);
    return closing_;
}

void BoxMessageSink::ShowBox(std::string_view text, const platform::WakeEvent* cancel) {
    const DWORD thread = ::GetCurrentThreadId();
    int place = 0;
    {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        boxThreads_.insert(thread);
        place = FreeBoxPlace(places_);
        places_.insert(place);
    }
    // The box's own loop runs the timer, which closes the box once it is
    // no longer wanted; a box opening just after CloseAll() is caught too.
    const BoxWatch watch{this, cancel};
    const BoxWatch* outer = t_watch;
    t_watch = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, CheckCancel);
    {
        const PlaceHook placeHook(place);
        ::MessageBoxW(nullptr, platform::win32::Widen(text).c_str(), L"Tavren3",
                      MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND);
    }
    ::KillTimer(nullptr, timer);
    t_watch = outer;
    std::lock_guard lock(mutex_);
    boxThreads_.erase(boxThreads_.find(thread));
    places_.erase(place);
}

}  // namespace tavren::app::win32
