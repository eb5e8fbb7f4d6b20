#include "app/win32/tray_window.h"

#include <algorithm>
#include <string_view>

#include "app/status_tip.h"
#include "app_ids.h"
#include "platform/win32/wide_text.h"

namespace tavren::app::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"Tavren3.MainFrame";
constexpr UINT kIconId = 100;

HICON LoadIconResource(int id) {
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                           IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                           ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

void RegisterClassOnce() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), kWindowClass, &wc)) return;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ::DefWindowProcW;  // replaced per window once it is made
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconResource(IDR_MAINFRAME);
    wc.lpszClassName = kWindowClass;
    ::RegisterClassExW(&wc);
}

}  // namespace

TrayWindow::TrayWindow(std::wstring instanceName, TrayCommands commands)
    : instanceName_(std::move(instanceName)), commands_(std::move(commands)) {
    RegisterClassOnce();
    // A tool window of no size has no taskbar button; it is never shown.
    hwnd_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"Tavren3", WS_OVERLAPPED, 0, 0, 0, 0,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
    ::SetPropW(hwnd_, instanceName_.c_str(), reinterpret_cast<HANDLE>(1));
    ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");

    icon_.cbSize = sizeof icon_;
    icon_.hWnd = hwnd_;
    icon_.uID = kIconId;
    icon_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon_.uCallbackMessage = kIconMessage;
    UpdateStatus();
}

TrayWindow::~TrayWindow() {
    if (!hwnd_) return;
    if (iconShown_) ::Shell_NotifyIconW(NIM_DELETE, &icon_);
    ::RemovePropW(hwnd_, instanceName_.c_str());
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
}

bool TrayWindow::ShowIcon() {
    iconShown_ = ::Shell_NotifyIconW(NIM_ADD, &icon_) != FALSE;
    return iconShown_;
}

void TrayWindow::UpdateStatus() {
    const bool running = commands_.watchRunning && commands_.watchRunning();
    const std::wstring tip = platform::win32::Widen(StatusTip(
        running, commands_.statuses ? commands_.statuses() : std::vector<engine::WatchStatus>{}));
    // The notification area holds 127 characters of tip.
    const std::size_t n = std::min(tip.size(), std::size(icon_.szTip) - 1);
    std::copy_n(tip.data(), n, icon_.szTip);
    icon_.szTip[n] = L'\0';
    HICON previous = icon_.hIcon;
    icon_.hIcon = LoadIconResource(running ? IDI_TRAY : IDI_STOPPED);
    if (iconShown_) ::Shell_NotifyIconW(NIM_MODIFY, &icon_);
    if (previous) ::DestroyIcon(previous);
}

UniqueMenu TrayWindow::LoadPopupMenu() const {
    UniqueMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_POPUP)),
                    &::DestroyMenu);
    if (!menu) return menu;
    const HMENU popup = ::GetSubMenu(menu.get(), 0);
    const bool running = commands_.watchRunning && commands_.watchRunning();
    const bool held = commands_.settingsOpen && commands_.settingsOpen();
    ::EnableMenuItem(popup, ID_WATCH_START,
                     MF_BYCOMMAND | (!running && !held ? MF_ENABLED : MF_GRAYED));
    ::EnableMenuItem(popup, ID_WATCH_STOP,
                     MF_BYCOMMAND | (running && !held ? MF_ENABLED : MF_GRAYED));
    return menu;
}

void TrayWindow::ShowMenu() {
    POINT at{0, 0};
    ::GetCursorPos(&at);
    const UniqueMenu menu = LoadPopupMenu();
    if (!menu) return;
    // Without being the foreground window first, the menu would not close
    // when the user clicks elsewhere.
    ::SetForegroundWindow(hwnd_);
    ::TrackPopupMenu(::GetSubMenu(menu.get(), 0), 0, at.x, at.y, 0, hwnd_, nullptr);
    ::PostMessageW(hwnd_, WM_USER, 0, 0);
}

bool TrayWindow::RunCommand(UINT id) {
    const std::function<void()>* handler = nullptr;
    switch (id) {
        case ID_WATCH_START:
            handler = &commands_.start;
            break;
        case ID_WATCH_STOP:
            handler = &commands_.stop;
            break;
        case ID_WATCH_SETTINGS:
            handler = &commands_.watchSettings;
            break;
        case ID_WATCH_HISTORY:
            handler = &commands_.history;
            break;
        case ID_HELP_FINDER:
            handler = &commands_.helpTopics;
            break;
        case ID_APP_ABOUT:
            handler = &commands_.about;
            break;
        case ID_APP_QUIT:
            handler = &commands_.quit;
            break;
        default:
            return false;
    }
    if (*handler) (*handler)();
    if (::IsWindow(hwnd_)) UpdateStatus();
    return true;
}

LRESULT CALLBACK TrayWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<TrayWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->Handle(message, w, l) : ::DefWindowProcW(window, message, w, l);
}

LRESULT TrayWindow::Handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case kIconMessage:
            // The menu opens on the right button only; other clicks do nothing.
            if (w == kIconId && l == WM_RBUTTONUP) ShowMenu();
            return 0;
        case kStatusMessage:
            UpdateStatus();
            return 0;
        case kReloadMessage:
            if (commands_.reload) commands_.reload();
            return 0;
        case WM_COMMAND:
            if (HIWORD(w) == 0 && RunCommand(LOWORD(w))) return 0;
            break;
        // Ended from outside: logging off, shutting down, taskkill.
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns.
            if (w && commands_.end) commands_.end();
            return 0;
        case WM_CLOSE:
            if (commands_.end) commands_.end();
            return 0;
        default:
            if (message == taskbarCreated_ && taskbarCreated_ != 0) {
                ShowIcon();  // a new taskbar (Explorer restarted) starts empty
                return 0;
            }
    }
    return ::DefWindowProcW(hwnd_, message, w, l);
}

namespace {

// A dialog's window class; only those take IsDialogMessage's keys.
bool IsDialog(HWND window) {
    wchar_t name[8] = {};
    return ::GetClassNameW(window, name, 8) > 0 && std::wstring_view(name) == L"#32770";
}

}  // namespace

int RunMessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // A modeless dialog (the history) moves its focus with Tab and
        // closes with Escape; modal ones run loops of their own.
        const HWND active = ::GetActiveWindow();
        if (active && IsDialog(active) && ::IsDialogMessageW(active, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace tavren::app::win32
