#include "app/win32/tray_app.h"

#include <windows.h>
// After <windows.h>, on which they build.
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/command_args.h"
#include "app/win32/about_box.h"
#include "app/win32/box_message_sink.h"
#include "app/win32/help.h"
#include "app/win32/tray_window.h"
#include "app_ids.h"
#include "engine/system_services.h"
#include "engine/tavren_doc.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/win32/wide_text.h"
#include "ui/win32/history_dialog.h"
#include "ui/win32/settings_dialog.h"

namespace tavren::app::win32 {
namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The first start's main window: the top-level window carrying the
// instance's property.
HWND FindRunningInstance(const std::wstring& instanceName) {
    struct Search {
        const wchar_t* name;
        HWND found;
    } search{instanceName.c_str(), nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<Search*>(l);
            if (!::GetPropW(window, s->name)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Brings forward what the first start has open (the settings, a box over
// them), else its own window, which stays hidden.
void BringForward(HWND window) {
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    ::SetForegroundWindow(::GetLastActivePopup(window));
}

class OleSession {
public:
    OleSession() : ok_(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~OleSession() {
        if (ok_) ::OleUninitialize();
    }
    OleSession(const OleSession&) = delete;
    OleSession& operator=(const OleSession&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

std::wstring LoadText(UINT id) {
    const wchar_t* text = nullptr;
    const int n =
        ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring();
}

void Warn(const std::wstring& text) {
    ::MessageBoxW(nullptr, text.c_str(), L"Tavren3", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

}  // namespace

std::wstring ProgramInstanceName() {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n < self.size()) {
            self.resize(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    return std::filesystem::path(self).stem().wstring();
}

int RunTray(const store::DataFolder& data, const std::wstring& instanceName) {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    const OleSession ole;  // the folder chooser of the settings needs it
    if (!ole.ok()) {
        Warn(LoadText(IDS_OLE_INIT_FAILED));
        return 1;
    }

    // Held until the program ends: its existence marks a running start.
    const UniqueHandle instance(::CreateMutexW(nullptr, TRUE, instanceName.c_str()));
    if (instance && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        if (const HWND first = FindRunningInstance(instanceName)) BringForward(first);
        return 0;
    }
    const DataFolderLock lock = LockDataFolder(data);
    if (!lock.busy.empty()) {
        Warn(platform::win32::Widen(lock.busy));
        return 1;
    }

    std::atomic<HWND> window{nullptr};
    const engine::SystemServices system;
    // Workers tell of folders that go and come back; the tip follows.
    BoxMessageSink sink([&window] {
        if (const HWND w = window.load()) ::PostMessageW(w, TrayWindow::kStatusMessage, 0, 0);
    });
    engine::CTavrenDoc doc(data, system.services(sink));

    TrayCommands commands;
    TrayState state;
    ui::win32::WatchSettings settings(data);
    BindEngineCommands(
        commands, doc, state, data, [&] { settings.Run(window.load()); },
        [&] { BringForward(window.load()); });
    commands.helpTopics = [&] { OpenHelp(window.load()); };
    commands.about = [&] { ShowAboutBox(window.load()); };
    // One history window beside the tray, made when first asked for;
    // asked again while it is open, it comes forward as it is.
    const std::unique_ptr<platform::ProcessLauncher> launcher = platform::MakeProcessLauncher();
    ui::win32::HistoryDialog history(data, *launcher);
    commands.history = [&] {
        if (!history.hwnd() && history.CreateModeless(window.load()))
            ::ShowWindow(history.hwnd(), SW_SHOW);
        if (history.hwnd()) BringForward(history.hwnd());
    };
    commands.quit = [&] {
        // The settings close first: they ask whether unsaved changes may be
        // lost, and いいえ keeps them, and the program, as they were.
        if (!settings.Close()) return;
        state.quitting = true;
        // The engine's exit first, without waiting: a worker whose box is
        // closed below takes it as cut short (its file is still owed to the
        // next start), not as the user's OK, and starts nothing more.
        doc.Shutdown(std::chrono::milliseconds(0));
        sink.CloseAll();
        // Ends every loop left on this thread (the version box's, say).
        ::PostQuitMessage(0);
    };
    commands.end = [&] {
        if (state.quitting) return;  // a second request while ending
        settings.Discard();
        state.quitting = true;
        doc.Shutdown(std::chrono::milliseconds(0));  // as in quit above
        sink.CloseAll();
        // At the end of the session the process may be ended as soon as the
        // window has taken it: the engine shuts down here, not after the loop.
        doc.Shutdown(std::chrono::milliseconds(1000));
        ::PostQuitMessage(0);
    };

    TrayWindow frame(instanceName, commands);
    if (!frame.hwnd()) return 1;
    window = frame.hwnd();
    if (!frame.ShowIcon()) {
        std::fputs(
            "tavren3: 通知領域がまだありません。できしだいアイコンを表示します。"
            "監視は続けます。\n",
            stderr);
    }

    // The command line changed the settings: its request waits on an event
    // named after this process. A request to end closes the window.
    platform::ControlSignals controlSignals;
    const SignalWaiter signalWaiter(controlSignals, [&window](platform::ControlSignal signal) {
        const UINT message =
            signal == platform::ControlSignal::Reload ? TrayWindow::kReloadMessage : WM_CLOSE;
        if (const HWND w = window.load()) ::PostMessageW(w, message, 0, 0);
    });

    const int status = RunMessageLoop();
    window = nullptr;
    sink.CloseAll();
    // Workers waiting on a box or a program are let go; one that is playing
    // a sound cannot be, and is not worth waiting for.
    if (!doc.Shutdown(std::chrono::milliseconds(1000))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace tavren::app::win32
