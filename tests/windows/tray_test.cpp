#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/box_message_sink.h"
#include "app/win32/help.h"
#include "app/win32/tray_window.h"
#include "dialog_ids.h"
#include "platform/wake_event.h"
#include "platform/win32/wide_text.h"
#include "store/data_folder.h"
#include "support/slot_images.h"
#include "support/temp_dir.h"
#include "ui/rules/dialog_texts.h"
#include "win_test_util.h"

namespace tavren {
namespace {

namespace text = rules::text;
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

// The top left corners of the open boxes captioned Tavren3.
std::set<std::pair<LONG, LONG>> BoxCorners() {
    std::set<std::pair<LONG, LONG>> corners;
    for (HWND w = BoxOfThread(0, L"Tavren3"); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        RECT r{};
        if (::IsWindowVisible(w) && TextOf(w) == L"Tavren3" && ::GetWindowRect(w, &r))
            corners.insert({r.left, r.top});
    }
    return corners;
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
        return std::vector<engine::WatchStatus>{
            {0, "受信", "C:\\in", engine::WatchMode::Notified, ""}};
    };
    c.stop = record("stop", false);
    c.start = record("start", true);
    c.watchSettings = [&] { calls.push_back("settings"); };
    c.history = [&] { calls.push_back("history"); };
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
    const std::vector<UINT> ids = {32771, 32772, 0, 32773, 32775, 0, 57667, 57664, 0, 32774};
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
        {32775, "history", true, L"フォルダ監視\n1 / 1 件を監視中"},
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
        EXPECT_EQ((::GetMenuState(items, 32771, MF_BYCOMMAND) & MF_GRAYED) != 0, running)
            << step.call;
        EXPECT_EQ((::GetMenuState(items, 32772, MF_BYCOMMAND) & MF_GRAYED) != 0, !running)
            << step.call;
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
    // A second box of the same size opens a step away from the first.
    sink.ReportProblem("請求書.pdfを実行します。");
    EXPECT_TRUE(test::WaitUntil([&] { return BoxCorners().size() == 2; }));
    cancel.Set();
    asking.join();  // hangs here if the box stays
    EXPECT_FALSE(BoxOfThread(worker, L"Tavren3"));

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

// The real program, copied under a name of its own: the program's name is
// its instance name, so programs of tests running side by side (and of the
// installer's test) are no second start of one another.
class TrayProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        instance_ = platform::win32::Widen(std::string("Tavren3-") + info->name());
        program_ = tmp_.path() / (instance_ + L".exe");
        std::filesystem::copy_file(test::ProgramFolder() / L"../.." / TAVREN_PROGRAM, program_);
        std::filesystem::create_directory(data());
    }
    void TearDown() override {
        for (const HANDLE p : started_) {
            // One left running by a failure ends before its folder goes.
            if (::WaitForSingleObject(p, 0) != WAIT_OBJECT_0 && ::TerminateProcess(p, 9))
                ::WaitForSingleObject(p, 5000);
            ::CloseHandle(p);
        }
    }
    std::filesystem::path data() const { return tmp_.path() / L"data"; }

    HANDLE Start(const std::wstring& command = L"") {
        std::wstring line =
            L"\"" + program_.wstring() + L"\" --data-dir \"" + data().wstring() + L"\" " + command;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info))
            return nullptr;
        ::CloseHandle(info.hThread);
        started_.push_back(info.hProcess);
        return info.hProcess;
    }
    // The program's hidden window, found as a second start finds it.
    HWND Frame() const {
        HWND found = nullptr;
        test::WaitUntil(
            [&] {
                for (HWND w = nullptr;
                     (w = ::FindWindowExW(nullptr, w, L"Tavren3.MainFrame", nullptr));)
                    if (::GetPropW(w, instance_.c_str())) found = w;
                return found != nullptr;
            },
            kLong);
        return found;
    }
    // The visible dialog or box of the program's window's thread so captioned.
    // (Wine on a display without a window manager takes up to two seconds
    // to hide each window, so these waits are long.)
    static HWND Shown(HWND frame, std::string_view caption) {
        HWND shown = nullptr;
        test::WaitUntil(
            [&] {
                shown = BoxOfThread(::GetWindowThreadProcessId(frame, nullptr),
                                    platform::win32::Widen(caption));
                return shown != nullptr;
            },
            kLong);
        return shown;
    }
    // The hidden window of `process` of that window class.
    static HWND WindowOf(HANDLE process, const wchar_t* windowClass) {
        HWND found = nullptr;
        test::WaitUntil(
            [&] {
                for (HWND w = nullptr; (w = ::FindWindowExW(nullptr, w, windowClass, nullptr));) {
                    DWORD pid = 0;
                    ::GetWindowThreadProcessId(w, &pid);
                    if (pid == ::GetProcessId(process)) found = w;
                }
                return found != nullptr;
            },
            kLong);
        return found;
    }
    static int ExitCode(HANDLE process) {
        DWORD code = 99;
        if (::WaitForSingleObject(process, static_cast<DWORD>(kLong.count())) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process, &code);
        return static_cast<int>(code);
    }
    static constexpr std::chrono::milliseconds kLong{30000};

    test::TempDir tmp_;
    std::wstring instance_;
    std::filesystem::path program_;
    std::vector<HANDLE> started_;
};

// A hidden window found by its property, whose menu commands open the
// settings and the version box over it; a second start ends at once and
// leaves the first running; Exit ends it, the unchanged settings open.
TEST_F(TrayProgram, RunsOnceAndOpensItsDialogsOverItsHiddenWindow) {
    const HANDLE first = Start();
    ASSERT_TRUE(first);
    const HWND frame = Frame();
    ASSERT_TRUE(frame);
    EXPECT_FALSE(::IsWindowVisible(frame));

    const struct {
        UINT command;
        std::string_view caption;
        bool close;
    } dialogs[] = {{57664, "Tavren バージョン情報", true}, {32773, text::kListCaption, false}};
    for (const auto& d : dialogs) {
        ::PostMessageW(frame, WM_COMMAND, d.command, 0);
        const HWND shown = Shown(frame, d.caption);
        EXPECT_TRUE(shown) << d.command;
        if (!shown || !d.close) continue;
        ::PostMessageW(shown, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(test::WaitUntil([&] { return !::IsWindow(shown); }, kLong));
    }

    const HANDLE second = Start();
    ASSERT_TRUE(second);
    EXPECT_EQ(ExitCode(second), 0);
    EXPECT_EQ(::WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ::PostMessageW(frame, WM_COMMAND, 32774, 0);
    EXPECT_EQ(ExitCode(first), 0);
}

// Exit with changed settings open, the editor over them: the editor closes
// and the list asks whether the changes may be lost; いいえ keeps the list
// and the program, はい ends both and leaves the file as it was.
TEST_F(TrayProgram, ExitAsksBeforeDroppingChangedSettings) {
    const store::DataFolder folder(data());
    ASSERT_TRUE(folder.Prepare().ok());
    const std::filesystem::path file = folder.settingsFile();
    const std::string stored = test::SlotBytes({test::MakeSlot("a", true)});
    test::WriteBytes(file, stored);
    const HANDLE program = Start();
    ASSERT_TRUE(program);
    const HWND frame = Frame();
    ASSERT_TRUE(frame);
    ::PostMessageW(frame, WM_COMMAND, 32773, 0);
    const HWND list = Shown(frame, text::kListCaption);
    ASSERT_TRUE(list);
    for (const int button : {IDC_LIST_RUN_STOP, IDC_LIST_CHANGE})
        ::PostMessageW(list, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    const HWND editor = Shown(frame, text::kEditorCaptionChange);
    ASSERT_TRUE(editor);

    for (const int answer : {IDNO, IDYES}) {
        ::PostMessageW(frame, WM_COMMAND, 32774, 0);
        const HWND question = Shown(frame, text::kBoxCaption);
        ASSERT_TRUE(question) << answer;
        EXPECT_FALSE(::IsWindowVisible(editor));
        ::PostMessageW(question, WM_COMMAND, answer, 0);
        if (answer == IDNO) {
            EXPECT_TRUE(test::WaitUntil([&] { return !::IsWindow(question); }, kLong));
            EXPECT_TRUE(::IsWindowVisible(list));
            EXPECT_EQ(::WaitForSingleObject(program, 500), static_cast<DWORD>(WAIT_TIMEOUT));
        }
    }
    EXPECT_EQ(ExitCode(program), 0);
    EXPECT_EQ(test::ReadBytes(file), stored);
}

// Ended from outside: by the end of the session (the process may be ended
// as soon as WM_ENDSESSION has been taken, so the engine must have stopped
// by then) and by WM_CLOSE, as taskkill sends it. No session file is left
// for the next start to take for a crash; the tray drops changed settings
// without a question. The session's end reaches a program that loads
// user32 only through a window: the headless runner has a hidden one.
TEST_F(TrayProgram, EndsCleanlyWhenTheSessionEndsOrItIsClosed) {
    const store::DataFolder folder(data());
    ASSERT_TRUE(folder.Prepare().ok());
    const std::string stored = test::SlotBytes({test::MakeSlot("a", true)});
    test::WriteBytes(folder.settingsFile(), stored);
    const std::filesystem::path session = data() / L"tavren3.session";
    for (const bool headless : {false, true}) {
        for (const UINT message : {WM_ENDSESSION, WM_CLOSE}) {
            SCOPED_TRACE(std::string(headless ? "headless " : "tray ") + std::to_string(message));
            const HANDLE program = Start(headless ? L"--headless" : L"");
            ASSERT_TRUE(program);
            const HWND window = headless ? WindowOf(program, L"Tavren3.ControlSignals") : Frame();
            ASSERT_TRUE(window);
            ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(session); }, kLong));
            if (!headless) {
                ::PostMessageW(window, WM_COMMAND, 32773, 0);
                const HWND list = Shown(window, text::kListCaption);
                ASSERT_TRUE(list);
                ::SendMessageW(list, WM_COMMAND, MAKEWPARAM(IDC_LIST_RUN_STOP, BN_CLICKED), 0);
            }
            if (message == WM_ENDSESSION) {
                EXPECT_TRUE(::SendMessageW(window, WM_QUERYENDSESSION, 0, 0));
                ::SendMessageW(window, WM_ENDSESSION, TRUE, 0);
                EXPECT_FALSE(std::filesystem::exists(session));
            } else {
                ::PostMessageW(window, WM_CLOSE, 0, 0);
            }
            ASSERT_EQ(ExitCode(program), 0);  // else the next start meets this one
            EXPECT_FALSE(std::filesystem::exists(session));
            EXPECT_EQ(test::ReadBytes(folder.settingsFile()), stored);
        }
    }
}

// The command line's changes reach the running tray program: an entry
// added is watched at once (its baseline appears); while the settings are
// open, a change is refused, as the dialog will write the file itself.
TEST_F(TrayProgram, TakesChangesFromTheCommandLineUnlessItsSettingsAreOpen) {
    const std::filesystem::path watched = tmp_.path() / L"watched";
    std::filesystem::create_directory(watched);
    const store::DataFolder folder(data());
    ASSERT_TRUE(folder.Prepare().ok());
    const HANDLE program = Start();
    ASSERT_TRUE(program);
    const HWND frame = Frame();
    ASSERT_TRUE(frame);
    const std::wstring add = L"add --title a --folder \"" + watched.wstring() + L"\"";

    EXPECT_EQ(ExitCode(Start(add)), 0);
    EXPECT_TRUE(
        test::WaitUntil([&] { return std::filesystem::exists(folder.snapshotFile(0)); }, kLong));

    ::PostMessageW(frame, WM_COMMAND, 32773, 0);
    const HWND list = Shown(frame, text::kListCaption);
    ASSERT_TRUE(list);
    const std::string stored = test::ReadBytes(folder.settingsFile());
    EXPECT_NE(ExitCode(Start(add)), 0);
    EXPECT_EQ(test::ReadBytes(folder.settingsFile()), stored);

    ::PostMessageW(list, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(test::WaitUntil([&] { return !::IsWindow(list); }, kLong));
    ::PostMessageW(frame, WM_COMMAND, 32774, 0);
    EXPECT_EQ(ExitCode(program), 0);
}

}  // namespace
}  // namespace tavren
