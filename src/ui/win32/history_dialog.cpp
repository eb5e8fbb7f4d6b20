#include "ui/win32/history_dialog.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "dialog_ids.h"
#include "platform/process.h"
#include "platform/win32/wide_text.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui::win32 {
namespace {

namespace text = rules::text;
using platform::win32::Widen;

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 500;
constexpr UINT kOpenCommand = 1;  // the line's context menu
constexpr int kColumnWidths[5] = {130, 150, 110, 180, 260};

void SetText(HWND dialog, int id, std::string_view utf8) {
    ::SetDlgItemTextW(dialog, id, Widen(utf8).c_str());
}

void SetCell(HWND list, int row, int column, std::string_view utf8) {
    std::wstring cell = Widen(utf8);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = cell.data();
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
}

}  // namespace

HistoryDialog::HistoryDialog(const store::DataFolder& data, platform::ProcessLauncher& launcher)
    : DialogWindow(IDD_HISTORY), history_(data), launcher_(launcher) {}

void HistoryDialog::Start() {
    const HWND d = hwnd();
    ::SetWindowTextW(d, Widen(text::kHistoryCaption).c_str());
    SetText(d, IDC_HISTORY_FILTER_LABEL, text::kHistoryFilter);
    SetText(d, IDC_HISTORY_OPEN, text::kOpenFolder);
    SetText(d, IDCANCEL, text::kClose);
    const HWND list = ::GetDlgItem(d, IDC_HISTORY_LIST);
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i < 5; ++i) {
        std::wstring title = Widen(text::kHistoryColumns[i]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = kColumnWidths[i];
        column.pszText = title.data();
        column.iSubItem = i;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&column));
    }
    FillFilter();
    FillList();
    Poll();
    ::SetTimer(d, kPollTimer, kPollMs, nullptr);
}

void HistoryDialog::Layout() {
    const HWND d = hwnd();
    RECT client{};
    ::GetClientRect(d, &client);
    // Margins and sizes in dialog units, as the template has them.
    RECT unit{0, 0, 7, 14};
    ::MapDialogRect(d, &unit);
    const int margin = unit.right;
    const int button = unit.bottom;
    const auto place = [&](int id, int x, int y, int w, int h) {
        ::SetWindowPos(::GetDlgItem(d, id), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    const auto width = [&](int id) {
        RECT r{};
        ::GetWindowRect(::GetDlgItem(d, id), &r);
        return static_cast<int>(r.right - r.left);
    };
    const int w = client.right;
    const int h = client.bottom;
    place(IDC_HISTORY_OPEN, w - margin - width(IDC_HISTORY_OPEN), margin - 2,
          width(IDC_HISTORY_OPEN), button);
    place(IDCANCEL, w - margin - width(IDCANCEL), h - margin - button, width(IDCANCEL), button);
    const int top = margin + button + margin / 2;
    place(IDC_HISTORY_LIST, margin, top, w - 2 * margin, h - top - 2 * margin - button);
}

int HistoryDialog::ChosenEntry() const {
    const HWND filter = ::GetDlgItem(hwnd(), IDC_HISTORY_FILTER);
    const LRESULT chosen = ::SendMessageW(filter, CB_GETCURSEL, 0, 0);
    if (chosen == CB_ERR) return 0;
    return static_cast<int>(::SendMessageW(filter, CB_GETITEMDATA, static_cast<WPARAM>(chosen), 0));
}

void HistoryDialog::FillFilter() {
    // The titles may have changed; the choice stays on its entry.
    const int chosen = ChosenEntry();
    const HWND filter = ::GetDlgItem(hwnd(), IDC_HISTORY_FILTER);
    ::SendMessageW(filter, CB_RESETCONTENT, 0, 0);
    const auto add = [&](std::string_view label, int entry) {
        const LRESULT at =
            ::SendMessageW(filter, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(label).c_str()));
        ::SendMessageW(filter, CB_SETITEMDATA, static_cast<WPARAM>(at), entry);
        if (entry == chosen) ::SendMessageW(filter, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    };
    add(text::kHistoryAll, 0);
    for (const auto& [entry, label] : history_.entries()) add(label, entry);
}

void HistoryDialog::AddRow(const store::LogRecord& record, int at) {
    const HWND list = ::GetDlgItem(hwnd(), IDC_HISTORY_LIST);
    std::wstring time = Widen(rules::HistoryTime(record.time));
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = at;
    item.pszText = time.data();
    item.lParam = record.entry;
    const int row =
        static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) return;
    SetCell(list, row, 1, rules::HistoryEntry(record));
    SetCell(list, row, 2, rules::EventLabel(record.event));
    SetCell(list, row, 3, record.file);
    SetCell(list, row, 4, record.result);
}

void HistoryDialog::FillList() {
    const HWND list = ::GetDlgItem(hwnd(), IDC_HISTORY_LIST);
    const int chosen = ChosenEntry();
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    const auto& records = history_.records();
    int row = 0;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (chosen == 0 || it->entry == chosen) AddRow(*it, row++);
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    ::EnableWindow(::GetDlgItem(hwnd(), IDC_HISTORY_OPEN), FALSE);
}

void HistoryDialog::Poll() {
    if (!hwnd()) return;
    const auto seen = history_.entries();
    const std::vector<store::LogRecord> added = history_.ReadNew();
    if (added.empty()) return;
    if (history_.entries() != seen) FillFilter();
    const HWND list = ::GetDlgItem(hwnd(), IDC_HISTORY_LIST);
    const int chosen = ChosenEntry();
    // Oldest first, each on top: the newest ends up first.
    for (const store::LogRecord& record : added) {
        if (chosen == 0 || record.entry == chosen) AddRow(record, 0);
    }
    for (auto n = ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
         n > static_cast<LRESULT>(rules::History::kMaxRows); --n) {
        ::SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(n - 1), 0);
    }
}

int HistoryDialog::SelectedEntry() const {
    const HWND list = ::GetDlgItem(hwnd(), IDC_HISTORY_LIST);
    const auto row = ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (row < 0) return 0;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = static_cast<int>(row);
    ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam > 0 ? static_cast<int>(item.lParam) : 0;
}

void HistoryDialog::OpenFolder(int entry) {
    if (entry <= 0) return;
    const auto folder = history_.EntryFolder(entry);
    if (!folder ||
        launcher_.OpenDocument(*folder) != platform::ProcessLauncher::OpenResult::Opened) {
        WindowsPrompts().Notice(text::kFolderNotOpened);
    }
}

INT_PTR HistoryDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Start();
            Layout();
            return TRUE;
        case WM_SIZE:
            Layout();
            return TRUE;
        case WM_TIMER:
            if (wParam == kPollTimer) Poll();
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != IDC_HISTORY_LIST) return FALSE;
            if (header->code == LVN_ITEMCHANGED) {
                ::EnableWindow(::GetDlgItem(hwnd(), IDC_HISTORY_OPEN), SelectedEntry() > 0);
                return TRUE;
            }
            if (header->code == NM_DBLCLK) {
                OpenFolder(SelectedEntry());
                return TRUE;
            }
            return FALSE;
        }
        case WM_CONTEXTMENU: {
            const HWND list = ::GetDlgItem(hwnd(), IDC_HISTORY_LIST);
            // The number, not the row: the timer may drop rows while the menu is open.
            const int entry = SelectedEntry();
            if (reinterpret_cast<HWND>(wParam) != list || entry <= 0) return FALSE;
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (at.x == -1 && at.y == -1) {  // from the keyboard: at the list's corner
                at = {0, 0};
                ::ClientToScreen(list, &at);
            }
            const std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&::DestroyMenu)> menu(
                ::CreatePopupMenu(), &::DestroyMenu);
            if (!menu) return TRUE;
            ::AppendMenuW(menu.get(), MF_STRING, kOpenCommand, Widen(text::kOpenFolder).c_str());
            const BOOL chosen = ::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, at.x,
                                                 at.y, 0, hwnd(), nullptr);
            if (chosen == kOpenCommand) OpenFolder(entry);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_HISTORY_FILTER:
                    if (HIWORD(wParam) == CBN_SELCHANGE) FillList();
                    return TRUE;
                case IDC_HISTORY_OPEN:
                    OpenFolder(SelectedEntry());
                    return TRUE;
                case IDCANCEL:
                    ::KillTimer(hwnd(), kPollTimer);
                    Close(IDCANCEL);
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

}  // namespace tavren::ui::win32
