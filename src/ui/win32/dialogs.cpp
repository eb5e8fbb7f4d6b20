#include "ui/win32/dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "dialog_ids.h"
#include "platform/win32/wide_text.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui::win32 {
namespace {

namespace text = rules::text;
using platform::win32::Narrow;
using platform::win32::Widen;

void SetText(HWND dialog, int id, std::string_view utf8) {
    ::SetDlgItemTextW(dialog, id, Widen(utf8).c_str());
}

std::string TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

// Only when it differs, so that the caret stays where the user left it.
void ShowText(HWND dialog, int id, const std::string& utf8) {
    HWND control = ::GetDlgItem(dialog, id);
    if (TextOf(control) != utf8) ::SetWindowTextW(control, Widen(utf8).c_str());
}

void Enable(HWND dialog, int id, bool on) {
    ::EnableWindow(::GetDlgItem(dialog, id), on ? TRUE : FALSE);
}

void Check(HWND dialog, int id, bool on) {
    ::CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

int Checked(HWND dialog, int id) {
    return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
}

void ShowField(HWND dialog, int id, const rules::TextField& field) {
    ShowText(dialog, id, field.text);
    Enable(dialog, id, field.enabled);
}

// The user changed the text of an edit whose field counts CP932 bytes.
// EM_LIMITTEXT counts characters, so the limit is kept here: a change that
// would take the text over its limit, or add a character CP932 cannot
// store, is undone. A text the dialog set itself (a chooser's path) may be
// over the limit; shortening it is always allowed.
void TextTyped(HWND edit, rules::Field field, rules::TextField& kept, rules::Prompts& prompts) {
    std::string typed = TextOf(edit);
    if (typed == kept.text) return;
    const rules::FieldLimit limit = rules::LimitOf(field);
    const auto bytes = rules::Cp932Bytes(typed, limit.namesAFile);
    const auto keptBytes = rules::Cp932Bytes(kept.text, limit.namesAFile);
    if (bytes && (*bytes <= limit.maxBytes || (keptBytes && *bytes < *keptBytes))) {
        kept.text = std::move(typed);
        return;
    }
    DWORD start = 0;
    ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    ::SetWindowTextW(edit, Widen(kept.text).c_str());
    // Back where the refused change began, as near as the old text allows.
    const LPARAM at = start > 0 ? start - 1 : 0;
    ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(at), at);
    if (!bytes) prompts.Notice(rules::NoCp932FormText());
}

// Enter and Escape inside a page neither press a button nor reach the
// editor, where they would confirm or cancel the whole entry.
LRESULT CALLBACK KeepKeysInPage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
    const auto isEnterOrEscape = [](WPARAM key) { return key == VK_RETURN || key == VK_ESCAPE; };
    switch (message) {
        case WM_GETDLGCODE: {
            const auto* msg = reinterpret_cast<const MSG*>(lParam);
            if (msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
                isEnterOrEscape(msg->wParam)) {
                return DLGC_WANTMESSAGE;
            }
            break;
        }
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (isEnterOrEscape(wParam)) return 0;
            break;
        case WM_CHAR:
            if (wParam == L'\r' || wParam == L'\x1b') return 0;
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, KeepKeysInPage, 0);
            break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

BOOL CALLBACK TrapKeys(HWND child, LPARAM) {
    ::SetWindowSubclass(child, KeepKeysInPage, 0, 0);
    return TRUE;
}

// A double-click on a line of the list edits it, as 変更 does (the press
// before it has selected that line); one below the last line does nothing.
LRESULT CALLBACK EditOnDoubleClick(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR) {
    if (message == WM_NCDESTROY) ::RemoveWindowSubclass(box, EditOnDoubleClick, 0);
    const LRESULT result = ::DefSubclassProc(box, message, wParam, lParam);
    if (message == WM_LBUTTONDBLCLK &&
        HIWORD(::SendMessageW(box, LB_ITEMFROMPOINT, 0, lParam)) == 0) {
        const HWND dialog = ::GetParent(box);
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LIST_CHANGE, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_LIST_CHANGE)));
    }
    return result;
}

// How many owners up `window` finds `owner`; 0 when it is not above it.
int DepthAbove(HWND window, HWND owner) {
    int depth = 0;
    for (HWND w = window; w; w = ::GetWindow(w, GW_OWNER), ++depth) {
        if (w == owner) return depth;
    }
    return 0;
}

// The visible window this thread has open furthest above `owner`.
HWND FrontmostAbove(HWND owner) {
    struct Search {
        HWND owner;
        HWND found = nullptr;
        int depth = 0;
    } search{owner};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<Search*>(l);
            const int depth = ::IsWindowVisible(w) ? DepthAbove(w, s->owner) : 0;
            if (depth > s->depth) {
                s->depth = depth;
                s->found = w;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Presses the button that leaves a dialog or box without doing anything: a
// question's いいえ, a notice's OK. A box made by the system keeps buttons
// it does not show, so only a visible one counts.
void Dismiss(HWND window) {
    for (const int id : {IDCANCEL, IDNO, IDOK}) {
        const HWND button = ::GetDlgItem(window, id);
        if (!button || !::IsWindowVisible(button)) continue;
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
        return;
    }
    ::SendMessageW(window, WM_CLOSE, 0, 0);
}

}  // namespace

void PlaceTopLevel(HWND dialog) {
    if (::GetWindowLongPtrW(dialog, GWL_STYLE) & WS_CHILD) return;
    const HWND owner = ::GetWindow(dialog, GW_OWNER);
    const bool overOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    POINT mouse{};
    ::GetCursorPos(&mouse);
    const HMONITOR monitor = overOwner ? ::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)
                                       : ::MonitorFromPoint(mouse, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(monitor, &info)) return;
    const RECT work = info.rcWork;
    RECT around = work;
    if (overOwner) ::GetWindowRect(owner, &around);
    RECT own{};
    ::GetWindowRect(dialog, &own);
    const LONG width = own.right - own.left;
    const LONG height = own.bottom - own.top;
    // Whole on the work area, its top left corner first.
    const LONG x =
        std::max(work.left, std::min((around.left + around.right - width) / 2, work.right - width));
    const LONG y = std::max(
        work.top, std::min((around.top + around.bottom - height) / 2, work.bottom - height));
    ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (!overOwner) {
        ::SetWindowLongPtrW(dialog, GWL_EXSTYLE,
                            ::GetWindowLongPtrW(dialog, GWL_EXSTYLE) | WS_EX_APPWINDOW);
    }
}

// --- DialogWindow ---------------------------------------------------------

DialogWindow::~DialogWindow() {
    if (!hwnd_) return;
    // The window must not reach this half-destroyed object any more.
    ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    ::DestroyWindow(hwnd_);
}

INT_PTR DialogWindow::RunModal(HWND owner) {
    modal_ = true;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), owner,
                             Procedure, reinterpret_cast<LPARAM>(this));
}

HWND DialogWindow::CreateModeless(HWND parent) {
    modal_ = false;
    result_.reset();
    return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent,
                                Procedure, reinterpret_cast<LPARAM>(this));
}

void DialogWindow::Close(int result) {
    if (modal_) {
        ::EndDialog(hwnd_, result);
        return;
    }
    result_ = result;
    ::DestroyWindow(hwnd_);
}

INT_PTR CALLBACK DialogWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogWindow*>(lParam);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        PlaceTopLevel(hwnd);
    }
    auto* self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
        self->hwnd_ = nullptr;
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

// --- the editor's pages ---------------------------------------------------

class EditorPage final : public DialogWindow {
public:
    EditorPage(int tab, EditorDialog& editor)
        : DialogWindow(kTemplates[tab]), tab_(tab), editor_(editor) {}

    void Show();
    HWND EditFor(rules::Field field) const {
        const int id = field == rules::Field::Pattern    ? IDC_FILE_PATTERN
                       : field == rules::Field::WaveFile ? IDC_NOTICE_WAVE
                       : field == rules::Field::MoveTo   ? IDC_AFTER_MOVE_TO
                                                         : 0;
        return id ? ::GetDlgItem(hwnd(), id) : nullptr;
    }

private:
    static constexpr int kTemplates[3] = {IDD_FILE_PAGE, IDD_NOTICE_PAGE, IDD_AFTER_PAGE};

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void SetTexts();
    void OnFileCommand(int id, int code);
    void OnNoticeCommand(int id, int code);
    void OnAfterCommand(int id, int code);
    void Typed(int id, int code, rules::Field field, rules::TextField& kept) {
        if (code == EN_CHANGE && !editor_.showing()) {
            TextTyped(::GetDlgItem(hwnd(), id), field, kept, editor_.prompts());
        }
    }

    int tab_;
    EditorDialog& editor_;
};

void EditorPage::SetTexts() {
    const HWND d = hwnd();
    switch (tab_) {
        case 0:
            SetText(d, IDC_FILE_TARGET_BOX, text::kTargetBox);
            SetText(d, IDC_FILE_ALL, text::kAllFiles);
            SetText(d, IDC_FILE_MATCHING, text::kPatternFiles);
            SetText(d, IDC_FILE_HINT, text::kWildcardHint);
            SetText(d, IDC_FILE_TIMING_BOX, text::kTimingBox);
            SetText(d, IDC_FILE_ON_NAMES, text::kOnNames);
            SetText(d, IDC_FILE_ON_NAMES_MORE, text::kOnNamesMore);
            SetText(d, IDC_FILE_ON_UPDATES, text::kOnUpdates);
            break;
        case 1:
            SetText(d, IDC_NOTICE_MESSAGE, text::kShowMessage);
            SetText(d, IDC_NOTICE_SOUND, text::kPlaySound);
            SetText(d, IDC_NOTICE_BOX, text::kNoticeBox);
            SetText(d, IDC_NOTICE_BROWSE, text::kBrowse);
            SetText(d, IDC_NOTICE_BEEP, text::kBeep);
            SetText(d, IDC_NOTICE_USE_WAVE, text::kWave);
            break;
        default:
            SetText(d, IDC_AFTER_NOTHING, text::kDoNothing);
            SetText(d, IDC_AFTER_DELETE, text::kDeleteFile);
            SetText(d, IDC_AFTER_BOX, text::kAfterBox);
            SetText(d, IDC_AFTER_MOVE, text::kMoveFile);
            SetText(d, IDC_AFTER_BROWSE, text::kBrowse);
            SetText(d, IDC_AFTER_OVERWRITE, text::kOverwrite);
    }
}

// Radios are set one by one: a value none of a group's radios stands for
// shows them all cleared.
void EditorPage::Show() {
    const HWND d = hwnd();
    rules::EntryEditor& rules = editor_.rules();
    if (const rules::FilePage* file = rules.filePage(); file && tab_ == 0) {
        ShowField(d, IDC_FILE_PATTERN, file->pattern);
        Enable(d, IDC_FILE_HINT, file->pattern.enabled);
        Check(d, IDC_FILE_ALL, file->fileMode == store::file_mode::kEveryFile);
        Check(d, IDC_FILE_MATCHING, file->fileMode == store::file_mode::kMatching);
        Check(d, IDC_FILE_ON_UPDATES, file->timing == store::timing::kUpdates);
        Check(d, IDC_FILE_ON_NAMES, file->timing == store::timing::kNames);
    } else if (const rules::NoticePage* notice = rules.noticePage(); notice && tab_ == 1) {
        Check(d, IDC_NOTICE_MESSAGE, notice->showMessage != 0);
        Check(d, IDC_NOTICE_SOUND, notice->playSound != 0);
        ShowField(d, IDC_NOTICE_WAVE, notice->waveFile);
        Enable(d, IDC_NOTICE_BROWSE, notice->waveFile.enabled);
        Check(d, IDC_NOTICE_BEEP, notice->soundKind == rules::NoticePage::kBeepKind);
        Check(d, IDC_NOTICE_USE_WAVE, notice->soundKind == rules::NoticePage::kWaveKind);
        Enable(d, IDC_NOTICE_BEEP, notice->kindsEnabled);
        Enable(d, IDC_NOTICE_USE_WAVE, notice->kindsEnabled);
    } else if (const rules::AfterPage* after = rules.afterPage(); after && tab_ == 2) {
        ShowField(d, IDC_AFTER_MOVE_TO, after->moveTo);
        Enable(d, IDC_AFTER_BROWSE, after->moveTo.enabled);
        Check(d, IDC_AFTER_OVERWRITE, after->overwrite != 0);
        Enable(d, IDC_AFTER_OVERWRITE, after->moveTo.enabled);
        Check(d, IDC_AFTER_NOTHING, after->afterMode == store::after_mode::kNothing);
        Check(d, IDC_AFTER_DELETE, after->afterMode == store::after_mode::kDelete);
        Check(d, IDC_AFTER_MOVE, after->afterMode == store::after_mode::kMove);
    }
}

INT_PTR EditorPage::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetTexts();
            ::EnumChildWindows(hwnd(), TrapKeys, 0);
            return FALSE;  // the editor keeps the focus it has
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (tab_ == 0) OnFileCommand(id, code);
            if (tab_ == 1) OnNoticeCommand(id, code);
            if (tab_ == 2) OnAfterCommand(id, code);
            return TRUE;
        }
    }
    return FALSE;
}

void EditorPage::OnFileCommand(int id, int code) {
    rules::FilePage* page = editor_.rules().filePage();
    if (!page) return;
    if (id == IDC_FILE_PATTERN) return Typed(id, code, rules::Field::Pattern, page->pattern);
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_FILE_ALL:
            page->SetFileMode(store::file_mode::kEveryFile);
            break;
        case IDC_FILE_MATCHING:
            page->SetFileMode(store::file_mode::kMatching);
            break;
        case IDC_FILE_ON_UPDATES:
            page->SetTiming(store::timing::kUpdates);
            break;
        case IDC_FILE_ON_NAMES:
            page->SetTiming(store::timing::kNames);
            break;
        default:
            return;
    }
    Show();
}

void EditorPage::OnNoticeCommand(int id, int code) {
    rules::EntryEditor& rules = editor_.rules();
    rules::NoticePage* page = rules.noticePage();
    if (!page) return;
    if (id == IDC_NOTICE_WAVE) return Typed(id, code, rules::Field::WaveFile, page->waveFile);
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_NOTICE_MESSAGE:
            page->showMessage = Checked(hwnd(), id);
            return;
        case IDC_NOTICE_SOUND:
            page->playSound = Checked(hwnd(), id);
            return editor_.Settle(rules.SoundClicked());
        case IDC_NOTICE_BEEP:
            page->SetSoundKind(rules::NoticePage::kBeepKind);
            return Show();
        case IDC_NOTICE_USE_WAVE:
            page->SetSoundKind(rules::NoticePage::kWaveKind);
            return Show();
        case IDC_NOTICE_BROWSE:
            return editor_.Settle(rules.ChooseWave());
    }
}

void EditorPage::OnAfterCommand(int id, int code) {
    rules::EntryEditor& rules = editor_.rules();
    rules::AfterPage* page = rules.afterPage();
    if (!page) return;
    if (id == IDC_AFTER_MOVE_TO) return Typed(id, code, rules::Field::MoveTo, page->moveTo);
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_AFTER_NOTHING:
            page->SetAfterMode(store::after_mode::kNothing);
            return Show();
        case IDC_AFTER_DELETE:
            page->SetAfterMode(store::after_mode::kDelete);
            return Show();
        case IDC_AFTER_MOVE:
            page->SetAfterMode(store::after_mode::kMove);
            return Show();
        case IDC_AFTER_OVERWRITE:
            page->overwrite = Checked(hwnd(), id);
            return;
        case IDC_AFTER_BROWSE:
            return editor_.Settle(rules.ChooseDestination());
    }
}

// --- the editor -----------------------------------------------------------

namespace {

// A tooltip on one control; the tooltip window belongs to the dialog and
// ends with it.
void AddTooltip(HWND dialog, int id, std::string_view utf8) {
    const HWND tip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                       WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                                       ::GetModuleHandleW(nullptr), nullptr);
    if (!tip) return;
    std::wstring text = Widen(utf8);
    TOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = dialog;
    info.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(dialog, id));
    info.lpszText = text.data();
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    ::SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 480);
}

}  // namespace

EditorDialog::EditorDialog(rules::Prompts& prompts)
    : DialogWindow(IDD_ENTRY_EDITOR), prompts_(prompts), rules_(prompts) {}

EditorDialog::~EditorDialog() = default;

HWND EditorDialog::page() const {
    return page_ ? page_->hwnd() : nullptr;
}

INT_PTR EditorDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Start();
            AddTooltip(hwnd(), IDC_EDIT_PROGRAM, text::kPlaceholderHint);
            // The title first, whatever page lies before it in the tab order.
            ::SetFocus(::GetDlgItem(hwnd(), IDC_EDIT_TITLE));
            return FALSE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_EDIT_TABS && header->code == TCN_SELCHANGE) OnTabChanged();
            return TRUE;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
    }
    return FALSE;
}

void EditorDialog::Start() {
    const HWND d = hwnd();
    ++showing_;
    SetText(d, IDC_EDIT_FOLDER_BOX, text::kFolderBox);
    SetText(d, IDC_EDIT_TITLE_LABEL, text::kTitle);
    SetText(d, IDC_EDIT_FOLDER_LABEL, text::kFolder);
    SetText(d, IDC_EDIT_FOLDER_BROWSE, text::kBrowse);
    SetText(d, IDC_EDIT_PROGRAM_BOX, text::kProgramBox);
    SetText(d, IDC_EDIT_PROGRAM_BROWSE, text::kBrowse);
    SetText(d, IDC_EDIT_WAIT, text::kWaitExit);
    SetText(d, IDC_EDIT_OPEN_FILE, text::kOpenFile);
    SetText(d, IDOK, text::kConfirm);
    SetText(d, IDCANCEL, text::kCancel);
    const HWND tabs = ::GetDlgItem(d, IDC_EDIT_TABS);
    ::SendMessageW(tabs, TCM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < 3; ++i) {
        std::wstring caption = Widen(text::kTabs[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&item));
    }
    --showing_;
    rules_.Start();
    ::SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(rules_.currentPage()), 0);
    ::SetWindowTextW(d, Widen(rules_.Caption()).c_str());
    ShowPageOfRules();
    Show();
}

void EditorDialog::Show() {
    const HWND d = hwnd();
    rules::EditorControls& c = rules_.controls;
    ++showing_;
    const bool programChanged = TextOf(::GetDlgItem(d, IDC_EDIT_PROGRAM)) != c.program.text;
    ShowField(d, IDC_EDIT_TITLE, c.title);
    ShowField(d, IDC_EDIT_FOLDER, c.folder);
    ShowField(d, IDC_EDIT_PROGRAM, c.program);
    // A program the dialog puts in counts as a change, as a typed one.
    if (programChanged) rules_.ProgramChanged();
    Check(d, IDC_EDIT_OPEN_FILE, c.openFile != 0);
    Check(d, IDC_EDIT_WAIT, c.waitExit != 0);
    Enable(d, IDC_EDIT_WAIT, c.waitEnabled);
    if (page_) page_->Show();
    --showing_;
}

void EditorDialog::Settle(const rules::Outcome& outcome) {
    Show();
    HWND focus = nullptr;
    switch (outcome.focus) {
        case rules::Field::Title:
            focus = ::GetDlgItem(hwnd(), IDC_EDIT_TITLE);
            break;
        case rules::Field::Folder:
            focus = ::GetDlgItem(hwnd(), IDC_EDIT_FOLDER);
            break;
        case rules::Field::Program:
            focus = ::GetDlgItem(hwnd(), IDC_EDIT_PROGRAM);
            break;
        case rules::Field::None:
            break;
        default:
            focus = page_ ? page_->EditFor(outcome.focus) : nullptr;
    }
    if (focus) ::SetFocus(focus);
}

// One page window at a time, for the page the rules hold, above the tab
// control it lies on: right before it in the tab order too, after the
// controls of the upper half.
void EditorDialog::ShowPageOfRules() {
    const int tab = rules_.currentPage();
    if (tab == pageShown_) return;
    page_.reset();
    page_ = std::make_unique<EditorPage>(tab, *this);
    page_->CreateModeless(hwnd());
    ::SetWindowPos(page_->hwnd(), ::GetDlgItem(hwnd(), IDC_EDIT_OPEN_FILE), 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    pageShown_ = tab;
    Show();
}

// The tab control has already changed its selection; TCM_SETCURSEL puts a
// refused one back without notifying again.
void EditorDialog::OnTabChanged() {
    const HWND tabs = ::GetDlgItem(hwnd(), IDC_EDIT_TABS);
    const int chosen = static_cast<int>(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
    const rules::Outcome outcome = rules_.SwitchTo(chosen);
    ShowPageOfRules();
    if (!outcome.ok) {
        ::SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(rules_.currentPage()), 0);
    }
    Settle(outcome);
}

void EditorDialog::OnCommand(int id, int code) {
    rules::EditorControls& c = rules_.controls;
    const HWND control = ::GetDlgItem(hwnd(), id);
    if (code == EN_CHANGE) {
        if (showing()) return;
        if (id == IDC_EDIT_TITLE) TextTyped(control, rules::Field::Title, c.title, prompts_);
        if (id == IDC_EDIT_FOLDER) TextTyped(control, rules::Field::Folder, c.folder, prompts_);
        if (id == IDC_EDIT_PROGRAM) {
            TextTyped(control, rules::Field::Program, c.program, prompts_);
            rules_.ProgramChanged();
            Show();
        }
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_EDIT_WAIT:
            c.waitExit = Checked(hwnd(), id);
            break;
        case IDC_EDIT_OPEN_FILE:
            c.openFile = Checked(hwnd(), id);
            Settle(rules_.OpenFileClicked());
            break;
        case IDC_EDIT_FOLDER_BROWSE:
            Settle(rules_.ChooseFolder());
            break;
        case IDC_EDIT_PROGRAM_BROWSE:
            Settle(rules_.ChooseProgram());
            break;
        case IDOK: {
            const rules::Outcome outcome = rules_.Ok();
            Settle(outcome);
            if (outcome.ok) Close(IDOK);
            break;
        }
        case IDCANCEL:
            Close(IDCANCEL);
            break;
    }
}

std::optional<rules::EntryValues> RunEntryEditor(HWND owner, rules::Prompts& prompts,
                                                 const rules::EditorInput& input) {
    EditorDialog editor(prompts);
    editor.rules().editMode = input.editMode;
    // A new entry starts from the editor's defaults.
    if (input.editMode != 0) editor.rules().values = input.values;
    if (editor.RunModal(owner) != IDOK) return std::nullopt;
    return editor.rules().values;
}

// --- the list -------------------------------------------------------------

ListDialog::ListDialog(std::filesystem::path settingsFile, rules::Prompts& prompts,
                       platform::StartSetting& start, rules::EditorRunner editor)
    : DialogWindow(IDD_ENTRY_LIST),
      rules_(std::move(settingsFile), prompts, start, std::move(editor)) {}

INT_PTR ListDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            const HWND d = hwnd();
            ::SetWindowTextW(d, Widen(text::kListCaption).c_str());
            SetText(d, IDC_LIST_FOLDER_LABEL, text::kFolderLabel);
            SetText(d, IDC_LIST_PROGRAM_LABEL, text::kProgramLabel);
            SetText(d, IDOK, text::kSave);
            SetText(d, IDCANCEL, text::kCancel);
            SetText(d, IDC_LIST_NEW, text::kNew);
            SetText(d, IDC_LIST_CHANGE, text::kChange);
            SetText(d, IDC_LIST_DELETE, text::kDelete);
            SetText(d, IDC_LIST_START, text::kStartWithDesktop);
            ::SetWindowSubclass(::GetDlgItem(d, IDC_LIST_ENTRIES), EditOnDoubleClick, 0, 0);
            rules_.Open();
            Show();
            return TRUE;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
    }
    return FALSE;
}

// The list box is filled again only when its lines differ, so that the
// user's scroll position survives the commands that change nothing.
void ListDialog::Show() {
    const HWND d = hwnd();
    const HWND list = ::GetDlgItem(d, IDC_LIST_ENTRIES);
    std::vector<std::wstring> lines;
    for (std::size_t i = 0; i < rules_.lineCount(); ++i) lines.push_back(Widen(rules_.Line(i)));
    bool same = static_cast<std::size_t>(::SendMessageW(list, LB_GETCOUNT, 0, 0)) == lines.size();
    for (std::size_t i = 0; same && i < lines.size(); ++i) {
        const auto length = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
        std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(shown.data()));
        shown.resize(static_cast<std::size_t>(length));
        same = shown == lines[i];
    }
    if (!same) {
        ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
        for (const std::wstring& line : lines) {
            ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        }
    }
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(rules_.selected()), 0);
    SetText(d, IDC_LIST_FOLDER, rules_.folderText());
    SetText(d, IDC_LIST_PROGRAM, rules_.programText());
    SetText(d, IDC_LIST_RUN_STOP, rules_.runCaption());
    Check(d, IDC_LIST_START, rules_.startWithDesktop);
}

void ListDialog::OnCommand(int id, int code) {
    if (id == IDC_LIST_ENTRIES) {
        if (code != LBN_SELCHANGE) return;
        const auto line = ::SendMessageW(::GetDlgItem(hwnd(), id), LB_GETCURSEL, 0, 0);
        rules_.SelectionChanged(line == LB_ERR ? -1 : static_cast<int>(line));
        return Show();
    }
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_LIST_NEW:
            rules_.New();
            break;
        case IDC_LIST_CHANGE:
            rules_.Change();
            break;
        case IDC_LIST_DELETE:
            rules_.Delete();
            break;
        case IDC_LIST_RUN_STOP:
            rules_.RunStop();
            break;
        case IDC_LIST_START:
            rules_.startWithDesktop = Checked(hwnd(), id) != 0;
            return;
        case IDOK:
            if (rules_.Save()) return Close(IDOK);
            break;
        case IDCANCEL:
            if (rules_.Cancel()) return Close(IDCANCEL);
            return;
        default:
            return;
    }
    Show();
}

void ListDialog::DismissAbove() {
    const HWND d = hwnd();
    // Each dialog or box closed here is hidden at once and leaves its loop
    // when this command returns; a window that stays is not pressed again.
    for (HWND front = FrontmostAbove(d), last = nullptr; front && front != last;
         last = front, front = FrontmostAbove(d)) {
        Dismiss(front);
    }
}

bool ListDialog::CloseAsking() {
    const HWND d = hwnd();
    if (!d) return true;
    DismissAbove();
    // The question is asked over the list, in front.
    ::SetForegroundWindow(d);
    if (!rules_.Cancel()) return false;
    Close(IDCANCEL);
    return true;
}

void ListDialog::CloseDiscarding() {
    if (!hwnd()) return;
    DismissAbove();
    Close(IDCANCEL);
}

}  // namespace tavren::ui::win32
