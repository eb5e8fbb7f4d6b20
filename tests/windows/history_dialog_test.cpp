// The Win32 history window, driven in-process: the log's lines, a line that
// arrives while it is open, the filter by entry and the folder opener.
#include "ui/win32/history_dialog.h"

#include <gtest/gtest.h>
// (windows.h first)
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog_ids.h"
#include "platform/win32/wide_text.h"
#include "support/fakes.h"
#include "support/history_fixture.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::ui::win32 {
namespace {

std::vector<std::string> Row(HWND list, int row) {
    std::vector<std::string> cells;
    for (int column = 0; column < 5; ++column) {
        wchar_t buffer[256] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 256;
        ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item));
        cells.push_back(platform::win32::Narrow(buffer));
    }
    return cells;
}

int Rows(HWND list) {
    return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

TEST(HistoryDialogTest, ShowsLinesAsTheyArriveNewestFirstFilteredByEntry) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    const test::TempDir temp;
    const store::DataFolder data(temp.path());
    ASSERT_TRUE(test::WriteHistoryFixture(temp, data));

    test::EventLog opened;
    test::FakeLauncher launcher(opened);
    HistoryDialog dialog(data, launcher);
    const HWND d = dialog.CreateModeless(nullptr);
    ASSERT_TRUE(d);
    const HWND list = ::GetDlgItem(d, IDC_HISTORY_LIST);
    ASSERT_EQ(Rows(list), 2);
    EXPECT_EQ(Row(list, 1),
              (std::vector<std::string>{"2026/12/08 14:03:05", "1 in", "新規", "a.txt", ""}));
    EXPECT_EQ(Row(list, 0),
              (std::vector<std::string>{"2026/12/08 14:03:06", "-", "設定の読み直し", "", ""}));

    // A line written while the window is open shows on top, by its timer.
    test::AppendLogLine(
        data, {"2026-12-08T14:03:07.000+09:00", 2, "scans", "moved", "b.pdf", "C:\\out\\b.pdf"});
    EXPECT_TRUE(test::WaitUntil([&] {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        return Rows(list) == 3;
    }));
    EXPECT_EQ(Row(list, 0), (std::vector<std::string>{"2026/12/08 14:03:07", "2 scans", "移動",
                                                      "b.pdf", "C:\\out\\b.pdf"}));

    // すべて, 1 in, 2 scans: the first entry alone, and its folder opened.
    const HWND filter = ::GetDlgItem(d, IDC_HISTORY_FILTER);
    ASSERT_EQ(::SendMessageW(filter, CB_GETCOUNT, 0, 0), 3);
    ::SendMessageW(filter, CB_SETCURSEL, 1, 0);
    ::SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_HISTORY_FILTER, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(filter));
    ASSERT_EQ(Rows(list), 1);
    EXPECT_EQ(Row(list, 0)[1], "1 in");
    LVITEMW select{};
    select.stateMask = select.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&select));
    ::SendMessageW(::GetDlgItem(d, IDC_HISTORY_OPEN), BM_CLICK, 0, 0);
    EXPECT_EQ(opened.Events(), std::vector<std::string>{"open:" + (temp / "in").string()});

    ::SendMessageW(::GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_FALSE(dialog.hwnd());
}

}  // namespace
}  // namespace tavren::ui::win32
