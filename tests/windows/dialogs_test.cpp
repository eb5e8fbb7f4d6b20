// The Win32 settings dialogs, driven in-process through their own messages:
// the views must hand the user's typing and clicks to the dialog rules and
// show the rules' answers (the rules themselves are tested on their own).
#include "ui/win32/dialogs.h"

#include <gtest/gtest.h>
// (windows.h first)
#include <commctrl.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dialog_ids.h"
#include "platform/start_with_desktop.h"
#include "platform/win32/win32_util.h"
#include "store/data_folder.h"
#include "support/slot_images.h"
#include "support/temp_dir.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui::win32 {
namespace {

namespace text = rules::text;
using platform::win32::Narrow;
using platform::win32::Widen;

// Records every box shown; answers questions and choosers from a script.
struct ScriptedPrompts final : rules::Prompts {
    void Notice(std::string_view t) override { shown.emplace_back(t); }
    bool Question(std::string_view t) override {
        shown.emplace_back(t);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    std::optional<std::string> ChooseFolder(std::string_view, std::string_view start) override {
        chooserStarts.emplace_back(start);
        return chosen;
    }
    std::optional<std::string> ChooseFile(const rules::FileChoice&) override { return chosen; }

    std::vector<std::string> shown;
    std::deque<bool> answers;
    std::vector<std::string> chooserStarts;
    std::optional<std::string> chosen;
};

struct FakeStart final : platform::StartSetting {
    int Read() override { return stored; }
    void Apply(int enabled) override { applied = enabled; }
    int stored = 0;
    int applied = -1;
};

std::string Text(HWND dialog, int id) {
    wchar_t buffer[1024] = {};
    ::GetDlgItemTextW(dialog, id, buffer, 1024);
    return Narrow(buffer);
}
void Type(HWND dialog, int id, std::string_view utf8) {
    ::SetDlgItemTextW(dialog, id, Widen(utf8).c_str());
}
void Click(HWND dialog, int id) {
    ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
bool Enabled(HWND dialog, int id) {
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}
bool Checked(HWND dialog, int id) {
    return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}
// As the user's click on a tab: the selection moves, then the editor hears.
void ChooseTab(HWND editor, int tab) {
    const HWND tabs = ::GetDlgItem(editor, IDC_EDIT_TABS);
    ::SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
    NMHDR header{tabs, IDC_EDIT_TABS, static_cast<UINT>(TCN_SELCHANGE)};
    ::SendMessageW(editor, WM_NOTIFY, IDC_EDIT_TABS, reinterpret_cast<LPARAM>(&header));
}
int CurrentTab(HWND editor) {
    return static_cast<int>(::SendDlgItemMessageW(editor, IDC_EDIT_TABS, TCM_GETCURSEL, 0, 0));
}
// A key as the editor's modal loop hands it over.
void PressKey(HWND editor, HWND control, WPARAM key) {
    MSG msg{control, WM_KEYDOWN, key, 0, 0, {}};
    if (!::IsDialogMessageW(editor, &msg)) ::DispatchMessageW(&msg);
}

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
    }
    HWND OpenEditor(int editMode = 0, const rules::EntryValues& values = {}) {
        editor_.rules().editMode = editMode;
        editor_.rules().values = values;
        const HWND hwnd = editor_.CreateModeless(nullptr);
        EXPECT_NE(hwnd, nullptr) << ::GetLastError();
        return hwnd;
    }
    std::string Folder(std::string_view name) const { return Narrow((temp_ / name).wstring()); }

    test::TempDir temp_;
    ScriptedPrompts prompts_;
    EditorDialog editor_{prompts_};
};

TEST_F(DialogsTest, NewEntryOpensOnTheTargetFilesPageWithItsDefaults) {
    const HWND e = OpenEditor();
    const HWND page = editor_.page();
    wchar_t caption[128] = {};
    ::GetWindowTextW(e, caption, 128);
    EXPECT_EQ(Narrow(caption), text::kEditorCaptionNew);
    EXPECT_EQ(::SendDlgItemMessageW(e, IDC_EDIT_TABS, TCM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(CurrentTab(e), 0);
    EXPECT_TRUE(Checked(page, IDC_FILE_ALL));
    EXPECT_TRUE(Checked(page, IDC_FILE_ON_NAMES));
    EXPECT_FALSE(Enabled(page, IDC_FILE_PATTERN));
    EXPECT_FALSE(Enabled(e, IDC_EDIT_WAIT));  // no program yet
    EXPECT_EQ(Text(page, IDC_FILE_HINT), text::kWildcardHint);
    EXPECT_TRUE(prompts_.shown.empty());
    // The focus starts in the title; Tab runs down the upper half, the page,
    // the tabs, then 決定 and キャンセル, and back to the title.
    std::vector<int> order;
    for (HWND c = ::GetFocus(); c && order.size() < 12; c = ::GetNextDlgTabItem(e, c, FALSE)) {
        order.push_back(::GetDlgCtrlID(c));
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_EDIT_TITLE, IDC_EDIT_FOLDER, IDC_EDIT_FOLDER_BROWSE,
                                       IDC_EDIT_PROGRAM, IDC_EDIT_PROGRAM_BROWSE,
                                       IDC_EDIT_OPEN_FILE, IDC_FILE_ALL, IDC_FILE_ON_NAMES,
                                       IDC_EDIT_TABS, IDOK, IDCANCEL, IDC_EDIT_TITLE}));
}

// Each dialog opens centred, over its owner while that shows, else on the
// work area under the mouse, where without a shown owner (the tray's
// window is hidden) it has a taskbar button of its own.
TEST_F(DialogsTest, DialogsOpenCentredAndWithoutAShownOwnerOnTheTaskbar) {
    FakeStart start;
    ListDialog list(temp_.path() / "settings", prompts_, start, nullptr);
    const HWND tray = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                        nullptr, nullptr);
    const HWND l = list.CreateModeless(tray);
    ::ShowWindow(l, SW_SHOWNA);
    POINT mouse{};
    ::GetCursorPos(&mouse);
    MONITORINFO monitor{sizeof monitor, {}, {}, 0};
    ::GetMonitorInfoW(::MonitorFromPoint(mouse, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT listRect{};
    ::GetWindowRect(l, &listRect);
    const struct {
        HWND dialog;
        RECT around;
        bool taskbar;
    } cases[] = {{l, monitor.rcWork, true}, {editor_.CreateModeless(l), listRect, false}};
    for (const auto& c : cases) {
        RECT r{};
        ::GetWindowRect(c.dialog, &r);
        EXPECT_NEAR(r.left + r.right, c.around.left + c.around.right, 2) << c.taskbar;
        EXPECT_NEAR(r.top + r.bottom, c.around.top + c.around.bottom, 2) << c.taskbar;
        EXPECT_EQ((::GetWindowLongPtrW(c.dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0, c.taskbar);
    }
    ::DestroyWindow(tray);
}

// One editor, one step after another: each row acts, then names the box the
// rules showed (none: "") and where the focus went.
TEST_F(DialogsTest, OkAndTabSwitchesShowTheRulesRefusalsAndFocus) {
    const HWND e = OpenEditor();
    const auto page = [&] { return editor_.page(); };
    const std::string missing = Folder("missing");
    struct Step {
        const char* what;
        std::function<void()> act;
        std::string_view box;
        std::function<HWND()> focus;
        int tab;
    } steps[] = {
        {"pattern option, empty pattern, other tab",
         [&] { Click(page(), IDC_FILE_MATCHING), ChooseTab(e, 1); }, text::kNoPattern,
         [&] { return ::GetDlgItem(page(), IDC_FILE_PATTERN); }, 0},
        {"the same at OK", [&] { Click(e, IDOK); }, text::kNoPattern,
         [&] { return ::GetDlgItem(page(), IDC_FILE_PATTERN); }, 0},
        {"pattern given, no title",
         [&] { Type(page(), IDC_FILE_PATTERN, "a*.txt"), Click(e, IDOK); }, text::kNoTitle,
         [&] { return ::GetDlgItem(e, IDC_EDIT_TITLE); }, 0},
        {"title of spaces, missing folder, No",
         [&] { Type(e, IDC_EDIT_TITLE, "  "), Type(e, IDC_EDIT_FOLDER, missing), Click(e, IDOK); },
         text::kFolderMissing, [&] { return ::GetDlgItem(e, IDC_EDIT_FOLDER); }, 0},
        {"to the post-processing tab", [&] { ChooseTab(e, 2); }, "", nullptr, 2},
        {"move, no destination, back", [&] { Click(page(), IDC_AFTER_MOVE), ChooseTab(e, 0); },
         text::kNoMoveTo, [&] { return ::GetDlgItem(page(), IDC_AFTER_MOVE_TO); }, 2},
        {"destination given, back: the pattern is still there",
         [&] { Type(page(), IDC_AFTER_MOVE_TO, Narrow(temp_.path().wstring())), ChooseTab(e, 0); },
         "", nullptr, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        prompts_.shown.clear();
        step.act();
        if (step.box.empty()) {
            EXPECT_TRUE(prompts_.shown.empty());
        } else {
            EXPECT_EQ(prompts_.shown, std::vector<std::string>{std::string(step.box)});
        }
        if (step.focus) {
            EXPECT_EQ(::GetFocus(), step.focus());
        }
        EXPECT_EQ(CurrentTab(e), step.tab);
        EXPECT_EQ(editor_.rules().currentPage(), step.tab);
        EXPECT_FALSE(editor_.result());
    }
    EXPECT_EQ(Text(page(), IDC_FILE_PATTERN), "a*.txt");
    prompts_.answers = {true};  // create the missing folder
    Click(e, IDOK);
    EXPECT_EQ(editor_.result(), IDOK);
    EXPECT_EQ(editor_.rules().values.title, "  ");
    EXPECT_EQ(editor_.rules().values.pattern, "a*.txt");
    EXPECT_EQ(editor_.rules().values.afterMode, store::after_mode::kMove);
}

TEST_F(DialogsTest, TypingIsHeldToTheFieldsCp932Bytes) {
    const HWND e = OpenEditor();
    const auto kanji = [](int n) {  // two bytes each in CP932
        std::string s;
        while (n-- > 0) s += "漢";
        return s;
    };
    struct Case {
        HWND dialog;
        int id;
        std::string typed;
        bool kept;
        bool noForm;
    } cases[] = {
        {e, IDC_EDIT_TITLE, std::string(56, 'x'), true, false},
        {e, IDC_EDIT_TITLE, std::string(57, 'x'), false, false},
        {e, IDC_EDIT_FOLDER, kanji(63), true, false},
        {e, IDC_EDIT_FOLDER, kanji(64), false, false},
        {e, IDC_EDIT_PROGRAM, "C:\\\xF0\x9F\x98\x80.exe", false, true},  // an emoji
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        prompts_.shown.clear();
        const std::string before = Text(c.dialog, c.id);
        Type(c.dialog, c.id, c.typed);
        EXPECT_EQ(Text(c.dialog, c.id), c.kept ? c.typed : before);
        EXPECT_EQ(prompts_.shown.size(), c.noForm ? 1u : 0u);
    }
    // A pattern is 40 bytes at most.
    Click(editor_.page(), IDC_FILE_MATCHING);
    Type(editor_.page(), IDC_FILE_PATTERN, std::string(41, 'p'));
    EXPECT_EQ(Text(editor_.page(), IDC_FILE_PATTERN), "");
}

TEST_F(DialogsTest, EnterAndEscapeInAPageNeitherConfirmNorCancel) {
    const HWND e = OpenEditor();
    Click(editor_.page(), IDC_FILE_MATCHING);
    const HWND pattern = ::GetDlgItem(editor_.page(), IDC_FILE_PATTERN);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) PressKey(e, pattern, key);
    EXPECT_TRUE(prompts_.shown.empty());
    EXPECT_FALSE(editor_.result());
    // In the editor's own controls Enter confirms, with every check.
    PressKey(e, ::GetDlgItem(e, IDC_EDIT_TITLE), VK_RETURN);
    EXPECT_EQ(prompts_.shown, std::vector<std::string>{std::string(text::kNoPattern)});
}

TEST_F(DialogsTest, NoticePageFollowsTheSoundRuleAndReadsBack) {
    rules::EntryValues values;
    values.soundMode = store::sound_mode::kBeep;
    const HWND e = OpenEditor(1, values);
    ChooseTab(e, 1);
    const HWND page = editor_.page();
    EXPECT_TRUE(Checked(page, IDC_NOTICE_SOUND));
    EXPECT_TRUE(Checked(page, IDC_NOTICE_BEEP));
    EXPECT_FALSE(Enabled(page, IDC_NOTICE_WAVE));
    Click(page, IDC_NOTICE_USE_WAVE);
    EXPECT_TRUE(Enabled(page, IDC_NOTICE_WAVE) && Enabled(page, IDC_NOTICE_BROWSE));
    Click(page, IDC_NOTICE_SOUND);  // off: everything off, the radio kept
    EXPECT_FALSE(Enabled(page, IDC_NOTICE_USE_WAVE) || Enabled(page, IDC_NOTICE_WAVE));
    EXPECT_TRUE(Checked(page, IDC_NOTICE_USE_WAVE));
    Click(page, IDC_NOTICE_SOUND);
    EXPECT_TRUE(Enabled(page, IDC_NOTICE_WAVE));
    const std::string wave = Folder("ding.wav");
    test::WriteBytes(temp_ / "ding.wav", "");  // a WAV file that is not there is refused
    prompts_.chosen = wave;
    Click(page, IDC_NOTICE_MESSAGE);
    Click(page, IDC_NOTICE_BROWSE);
    EXPECT_EQ(Text(page, IDC_NOTICE_WAVE), wave);
    ChooseTab(e, 0);
    EXPECT_EQ(editor_.rules().values.soundMode, store::sound_mode::kWave);
    EXPECT_EQ(editor_.rules().values.messageMode, 1);
    EXPECT_EQ(editor_.rules().values.waveFile, wave);
}

TEST_F(DialogsTest, ChoosersAndTheOpenFileCheckKeepWhatWasTyped) {
    const HWND e = OpenEditor();
    Type(e, IDC_EDIT_TITLE, "typed");
    Type(e, IDC_EDIT_FOLDER, "C:\\before");
    prompts_.chosen = "C:\\chosen";
    Click(e, IDC_EDIT_FOLDER_BROWSE);
    EXPECT_EQ(prompts_.chooserStarts, std::vector<std::string>{"C:\\before"});
    EXPECT_EQ(Text(e, IDC_EDIT_FOLDER), "C:\\chosen");
    prompts_.chosen = "C:\\tools\\run.exe";
    Click(e, IDC_EDIT_PROGRAM_BROWSE);
    EXPECT_EQ(Text(e, IDC_EDIT_PROGRAM), "C:\\tools\\run.exe");
    EXPECT_TRUE(Enabled(e, IDC_EDIT_WAIT));  // a chosen program counts as typed
    EXPECT_EQ(Text(e, IDC_EDIT_TITLE), "typed");
    Click(e, IDC_EDIT_OPEN_FILE);
    EXPECT_FALSE(Enabled(e, IDC_EDIT_PROGRAM) || Enabled(e, IDC_EDIT_WAIT));
    EXPECT_EQ(Text(e, IDC_EDIT_PROGRAM), "C:\\tools\\run.exe");
}

// The modal path, as the list runs the editor: each step arrives on a timer
// inside the editor's own message loop.
TEST_F(DialogsTest, ModalEditorHandsTheEntryBackOnlyAfterOk) {
    static std::function<void(HWND)> step;
    static HWND found;
    rules::EntryValues in;
    in.title = "old";
    in.folder = Narrow(temp_.path().wstring());
    in.soundMode = store::sound_mode::kWave;
    in.waveFile = Folder("ding.wav");  // a relative one is stored whole
    const struct {
        int button;
        bool handedBack;
    } cases[] = {{IDOK, true}, {IDCANCEL, false}};
    for (const auto& c : cases) {
        step = [&c](HWND editor) {
            Type(editor, IDC_EDIT_TITLE, "new");
            Click(editor, c.button);
        };
        ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
            found = nullptr;
            ::EnumThreadWindows(
                ::GetCurrentThreadId(),
                [](HWND w, LPARAM) {
                    if (::IsWindowVisible(w) && ::GetDlgItem(w, IDC_EDIT_TABS)) found = w;
                    return found ? FALSE : TRUE;
                },
                0);
            if (!found) return;
            ::KillTimer(nullptr, id);
            step(found);
        });
        const auto out = RunEntryEditor(nullptr, prompts_, {1, in});
        ASSERT_EQ(out.has_value(), c.handedBack);
        if (!out) continue;
        EXPECT_EQ(out->title, "new");
        EXPECT_EQ(out->waveFile, in.waveFile);
        EXPECT_EQ(out->soundMode, store::sound_mode::kWave);
    }
}

// The list: lines and texts from the file, the commands' messages, the
// run/stop caption, and Save and Cancel.
TEST_F(DialogsTest, ListShowsTheFileAndSavesTheWorkingList) {
    const store::DataFolder data(temp_.path());
    ASSERT_TRUE(data.Prepare().ok());
    test::WriteBytes(data.settingsFile(),
                     test::SlotBytes({test::MakeSlot("a", true), test::MakeSlot("b", false)}));
    FakeStart start;
    std::optional<rules::EntryValues> answer = rules::EntryValues{};
    answer->title = "new";
    ListDialog list(data.settingsFile(), prompts_, start,
                    [&](const rules::EditorInput&) { return std::exchange(answer, std::nullopt); });
    const HWND l = list.CreateModeless(nullptr);
    const HWND box = ::GetDlgItem(l, IDC_LIST_ENTRIES);
    const auto line = [&](int i) {
        wchar_t buffer[256] = {};
        ::SendMessageW(box, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        return Narrow(buffer);
    };
    const auto select = [&](int i) {
        ::SendMessageW(box, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
        ::SendMessageW(l, WM_COMMAND, MAKEWPARAM(IDC_LIST_ENTRIES, LBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(box));
    };
    EXPECT_EQ(line(1), std::string(text::kStoppedLine) + "b");
    EXPECT_EQ(::SendMessageW(box, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(Text(l, IDC_LIST_FOLDER), "/watch/a");

    prompts_.answers = {true};
    Click(l, IDC_LIST_DELETE);  // deletes "a"; no line selected afterwards
    EXPECT_EQ(::SendMessageW(box, LB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(::SendMessageW(box, LB_GETCURSEL, 0, 0), LB_ERR);
    Click(l, IDC_LIST_CHANGE);
    EXPECT_EQ(prompts_.shown.back(), text::kChooseToChange);
    select(0);
    EXPECT_EQ(Text(l, IDC_LIST_PROGRAM), "/bin/b");
    Click(l, IDC_LIST_RUN_STOP);
    Click(l, IDC_LIST_RUN_STOP);
    EXPECT_EQ(Text(l, IDC_LIST_RUN_STOP), text::kStopped);
    EXPECT_EQ(line(0), std::string(text::kStoppedLine) + "b");
    Click(l, IDC_LIST_NEW);
    EXPECT_EQ(line(1), std::string(text::kRunningLine) + "new");
    Click(l, IDC_LIST_START);

    prompts_.shown.clear();
    Click(l, IDCANCEL);  // modified: asks, and No keeps the dialog open
    EXPECT_EQ(prompts_.shown, std::vector<std::string>{std::string(text::kAskDiscard)});
    EXPECT_FALSE(list.result());
    Click(l, IDOK);
    EXPECT_EQ(list.result(), IDOK);
    EXPECT_EQ(test::ReadBytes(data.settingsFile()).size(), 2 * store::kSlotSize);
    EXPECT_EQ(start.applied, 1);
}

// A double-click on a line edits that line, as 変更 does; one below the
// last line does nothing, though the list box reports it all the same.
TEST_F(DialogsTest, DoubleClickOnALineEditsIt) {
    const store::DataFolder data(temp_.path());
    ASSERT_TRUE(data.Prepare().ok());
    test::WriteBytes(data.settingsFile(),
                     test::SlotBytes({test::MakeSlot("a", true), test::MakeSlot("b", true)}));
    FakeStart start;
    std::vector<std::string> edited;
    ListDialog list(data.settingsFile(), prompts_, start, [&](const rules::EditorInput& input) {
        edited.push_back(input.values.title);
        return std::optional<rules::EntryValues>();
    });
    const HWND box = ::GetDlgItem(list.CreateModeless(nullptr), IDC_LIST_ENTRIES);
    RECT line{};
    ::SendMessageW(box, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&line));
    const struct {
        POINT at;
        std::vector<std::string> edited;
    } clicks[] = {
        {{line.left + 4, (line.top + line.bottom) / 2}, {"b"}},
        {{line.left + 4, line.bottom + 3 * (line.bottom - line.top)}, {"b"}},
    };
    for (const auto& click : clicks) {
        const LPARAM at = MAKELPARAM(click.at.x, click.at.y);
        for (const UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            ::SendMessageW(box, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
        EXPECT_EQ(edited, click.edited) << click.at.y;
        EXPECT_EQ(list.rules().selected(), 1);
    }
    EXPECT_TRUE(prompts_.shown.empty());
}

// The shell's own folder chooser, opened on the folder it is handed: OK
// hands that folder back, Cancel nothing. Each button is pressed from a
// timer inside the chooser's loop, once the chooser shows that folder
// selected, however long that takes on a loaded machine.
TEST_F(DialogsTest, FolderChooserOpensOnTheFolderItIsHanded) {
    const std::filesystem::path made = temp_.path() / L"選ぶ フォルダ";
    ASSERT_TRUE(std::filesystem::create_directory(made));
    const std::string folder = Narrow(made.wstring());
    static int button;
    static std::chrono::steady_clock::time_point deadline;
    for (const int pressed : {IDOK, IDCANCEL}) {
        button = pressed;
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
            HWND tree = nullptr;
            ::EnumThreadWindows(
                ::GetCurrentThreadId(),
                [](HWND w, LPARAM l) {
                    const HWND t = ::FindWindowExW(w, nullptr, L"SysTreeView32", nullptr);
                    if (!::IsWindowVisible(w) || !t) return TRUE;
                    *reinterpret_cast<HWND*>(l) = t;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&tree));
            wchar_t name[MAX_PATH] = {};
            TVITEMW item{};
            item.mask = TVIF_TEXT;
            item.pszText = name;
            item.cchTextMax = MAX_PATH;
            item.hItem = tree ? TreeView_GetSelection(tree) : nullptr;
            const bool shown = item.hItem && TreeView_GetItem(tree, &item) &&
                               std::wstring_view(name) == L"選ぶ フォルダ";
            const bool late = std::chrono::steady_clock::now() > deadline;
            if (!shown && !(tree && late)) return;
            ::KillTimer(nullptr, id);
            ::PostMessageW(::GetParent(tree), WM_COMMAND,
                           MAKEWPARAM(shown ? button : IDCANCEL, BN_CLICKED), 0);
        });
        WindowsPrompts prompts;
        const std::optional<std::string> chosen = prompts.ChooseFolder("フォルダを選択", folder);
        EXPECT_EQ(chosen, pressed == IDOK ? std::optional(folder) : std::nullopt) << pressed;
    }
}

}  // namespace
}  // namespace tavren::ui::win32
