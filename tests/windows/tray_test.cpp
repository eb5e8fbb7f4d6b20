#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/box_message_sink.h"
#include "app/win32/help.h"
#include "app/win32/tray_window.h"
#include "platform/wake_event.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren {
namespace {

using app::win32::TrayCommands;
using app::win32::TrayWindow;

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

// The top-level dialog box shown by `thread` (0: any thread), else null.
HWND BoxOfThread(DWORD thread, const std::wstring& caption) {
    struct Search {
        DWORD thread;
        const std::wstring* caption;
        HWND found = nullptr;
    } search{thread, &caption};
    ::EnumWindows(
        [](HWND w, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<Search*>(l);
            wchar_t name[16] = {};
            ::GetClassNameW(w, name, 16);
            if (std::wstring_view(name) != L"#32770" || !::IsWindowVisible(w) ||
                TextOf(w) != *s->caption ||
                (s->thread && ::GetWindowThreadProcessId(w, nullptr) != s->thread))
                return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The menu's commands, sent as the menu sends them, run their handlers; the
// menu's enabling and the tip follow the engine's state; Exit ends the loop.
TEST(TrayWindow, MenuCommandsRunAndTheMenuFollowsWatching) {
    bool running = true;
    std::vector<std::string> calls;
    auto record = [&](const char* name, bool runs) {
        return [&, name, runs] {
            calls.push_back(name);
            running = runs;
        };
    };
    TrayCommands c;
    c.watchRunning = [&] { return running; };
    c.statuses = [] {
        return std::vector<engine::WatchStatus>{{0, "受信", "C:\\in", engine::WatchMode::Notified, ""}};
    };
    c.stop = record("stop", false);
    c.start = record("start", true);
    c.watchSettings = [&] { calls.push_back("settings"); };
    c.helpTopics = [&] { calls.push_back("help"); };
    c.about = [&] { calls.push_back("about"); };
    c.quit = [&] {
        calls.push_back("quit");
        ::PostQuitMessage(7);
    };
    TrayWindow frame(L"TavrenTrayTest", c);
    const HWND hwnd = frame.hwnd();
    ASSERT_TRUE(hwnd);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    EXPECT_TRUE(::GetPropW(hwnd, L"TavrenTrayTest"));  // how a second start finds it

    // The menu as it is laid out; 0 is a separator.
    const app::win32::UniqueMenu menu = frame.LoadPopupMenu();
    ASSERT_TRUE(menu);
    const HMENU popup = ::GetSubMenu(menu.get(), 0);
    const std::vector<UINT> ids = {32771, 32772, 0, 32773, 0, 57667, 57664, 0, 32774};
    ASSERT_EQ(::GetMenuItemCount(popup), static_cast<int>(ids.size()));
    for (int i = 0; i < static_cast<int>(ids.size()); ++i)
        EXPECT_EQ(::GetMenuItemID(popup, i), ids[i]) << i;

    const struct {
        UINT id;
        const char* call;
        bool runningAfter;
        const wchar_t* tip;
    } steps[] = {
        {32772, "stop", false, L"フォルダ監視\n停止中"},
        {32771, "start", true, L"フォルダ監視\n1 / 1 件を監視中"},
        {32773, "settings", true, L"フォルダ監視\n1 / 1 件を監視中"},
        {57667, "help", true, nullptr},
        {57664, "about", true, nullptr},
    };
    for (const auto& step : steps) {
        ::SendMessageW(hwnd, WM_COMMAND, step.id, 0);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), step.call);
        EXPECT_EQ(running, step.runningAfter);
        const app::win32::UniqueMenu now = frame.LoadPopupMenu();
        const HMENU items = ::GetSubMenu(now.get(), 0);
        EXPECT_EQ((::GetMenuState(items, 32771, MF_BYCOMMAND) & MF_GRAYED) != 0, running) << step.call;
        EXPECT_EQ((::GetMenuState(items, 32772, MF_BYCOMMAND) & MF_GRAYED) != 0, !running) << step.call;
        if (step.tip) {
            EXPECT_STREQ(frame.tip(), step.tip) << step.call;
        }
    }

    ::PostMessageW(hwnd, WM_COMMAND, 32774, 0);
    EXPECT_EQ(app::win32::RunMessageLoop(), 7);
    EXPECT_EQ(calls.back(), "quit");
}

// A worker's box holds only that worker, and vanishes when it is cancelled
// or the program ends: a box left open would keep the program alive.
TEST(BoxMessageSink, BoxesCloseWhenCancelledAndAtTheEnd) {
    app::win32::BoxMessageSink sink;
    platform::WakeEvent cancel;
    DWORD worker = 0;
    std::thread asking([&] {
        worker = ::GetCurrentThreadId();
        sink.ShowMessage("請求書.pdfを実行します。", cancel);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return worker && BoxOfThread(worker, L"Tavren3"); }));
    cancel.Set();
    asking.join();  // hangs here if the box stays
    EXPECT_FALSE(BoxOfThread(worker, L"Tavren3"));

    sink.ReportProblem("フォルダを読めません");
    ASSERT_TRUE(test::WaitUntil([&] { return BoxOfThread(0, L"Tavren3"); }));
    sink.CloseAll();
    EXPECT_TRUE(test::WaitUntil([&] { return !BoxOfThread(0, L"Tavren3"); }));
}

// Without an installed page beside the program, the page built into it is
// written out for the browser.
TEST(Help, WritesOutTheBuiltInPage) {
    test::TempDir tmp;
    const std::filesystem::path page = app::win32::HelpPage(nullptr, tmp.path() / "help");
    EXPECT_EQ(page, tmp.path() / "help" / "index.html");
    std::ifstream in(page, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<html"), std::string::npos) << text.substr(0, 200);
}

// The program itself: a hidden window found by its property, whose menu
// commands open the settings and the version box over it; a second start
// ends at once and leaves the first running; Exit ends it.
TEST(TrayProgram, RunsOnceAndOpensItsDialogsOverItsHiddenWindow) {
    test::TempDir tmp;
    const std::wstring program = (test::ProgramFolder() / L"../.." / TAVREN_PROGRAM).wstring();
    std::wstring line = L"\"" + program + L"\" --data-dir \"" + tmp.path().wstring() + L"\"";
    auto start = [&] {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        std::wstring copy = line;
        if (!::CreateProcessW(nullptr, copy.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info))
            return HANDLE{nullptr};
        ::CloseHandle(info.hThread);
        return info.hProcess;
    };
    const std::wstring instance = std::filesystem::path(program).stem().wstring();
    auto find = [&] {
        HWND found = nullptr;
        test::WaitUntil([&] {
            found = ::FindWindowW(L"Tavren3.MainFrame", nullptr);
            return found && ::GetPropW(found, instance.c_str());
        });
        return found;
    };

    const HANDLE first = start();
    ASSERT_TRUE(first);
    const HWND frame = find();
    ASSERT_TRUE(frame);
    EXPECT_FALSE(::IsWindowVisible(frame));

    const struct {
        UINT command;
        const wchar_t* caption;
    } dialogs[] = {{57664, L"Tavren バージョン情報"}, {32773, L"監視フォルダ リスト"}};
    for (const auto& d : dialogs) {
        ::PostMessageW(frame, WM_COMMAND, d.command, 0);
        HWND shown = nullptr;
        EXPECT_TRUE(test::WaitUntil([&] {
            shown = ::GetLastActivePopup(frame);
            return shown != frame && ::IsWindowVisible(shown);
        })) << d.command;
        if (shown == frame) continue;
        EXPECT_EQ(TextOf(shown), d.caption);
        ::PostMessageW(shown, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(test::WaitUntil([&] { return ::GetLastActivePopup(frame) == frame; }));
    }

    const HANDLE second = start();
    ASSERT_TRUE(second);
    EXPECT_EQ(::WaitForSingleObject(second, 10000), WAIT_OBJECT_0);
    ::CloseHandle(second);
    EXPECT_EQ(::WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ::PostMessageW(frame, WM_COMMAND, 32774, 0);
    EXPECT_EQ(::WaitForSingleObject(first, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(first, &code);
    EXPECT_EQ(code, 0u);
    if (::WaitForSingleObject(first, 0) != WAIT_OBJECT_0) ::TerminateProcess(first, 9);
    ::CloseHandle(first);
}

}  // namespace
}  // namespace tavren
