#pragma once

#include <windows.h>
// After <windows.h>, on which it builds.
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "app/tray_commands.h"
#include "engine/services.h"

namespace tavren::app::win32 {

using app::TrayCommands;

using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&::DestroyMenu)>;

// The program's hidden main window: a zero-sized tool window, never shown,
// that owns the icon in the notification area, opens the icon's menu on a
// release of the right button and runs the menu's commands. It carries a
// window property named by the instance name, by which a second start
// finds it. The end of the session and WM_CLOSE run the end command. The
// menu and icons come from the module's resources.
class TrayWindow {
public:
    static constexpr UINT kIconMessage = WM_USER + 500;
    // Posted by any thread: refresh the icon and its tip.
    static constexpr UINT kStatusMessage = WM_APP + 1;
    // Posted by any thread: the command line changed the settings.
    static constexpr UINT kReloadMessage = WM_APP + 2;

    TrayWindow(std::wstring instanceName, TrayCommands commands);
    ~TrayWindow();  // takes the icon out of the notification area
    TrayWindow(const TrayWindow&) = delete;
    TrayWindow& operator=(const TrayWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Puts the icon into the notification area; false when there is none
    // yet. It is put there again whenever the taskbar is (re)created.
    bool ShowIcon();

    // The icon (greyed while watching is stopped) and its tip, from the
    // engine's state.
    void UpdateStatus();

    // The pop-up as it opens now: Start enabled only while watching is off,
    // Stop only while it is on.
    UniqueMenu LoadPopupMenu() const;

    // The tip as shown (shortened to what the notification area holds).
    const wchar_t* tip() const { return icon_.szTip; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);
    void ShowMenu();
    bool RunCommand(UINT id);

    std::wstring instanceName_;
    TrayCommands commands_;
    HWND hwnd_ = nullptr;
    UINT taskbarCreated_ = 0;
    NOTIFYICONDATAW icon_{};
    bool iconShown_ = false;
};

// Runs the thread's message loop until PostQuitMessage; returns its code.
int RunMessageLoop();

}  // namespace tavren::app::win32
