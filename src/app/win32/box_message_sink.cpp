#include "app/win32/box_message_sink.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "platform/wake_event.h"

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

void CloseBoxesOf(DWORD thread) { ::EnumThreadWindows(thread, PressOk, 0); }

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
    {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        boxThreads_.insert(thread);
    }
    // The box's own loop runs the timer, which closes the box once it is
    // no longer wanted; a box opening just after CloseAll() is caught too.
    const BoxWatch watch{this, cancel};
    const BoxWatch* outer = t_watch;
    t_watch = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, CheckCancel);
    ::MessageBoxW(nullptr, platform::win32::Widen(text).c_str(), L"Tavren3",
                  MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND);
    ::KillTimer(nullptr, timer);
    t_watch = outer;
    std::lock_guard lock(mutex_);
    boxThreads_.erase(boxThreads_.find(thread));
}

}  // namespace tavren::app::win32
