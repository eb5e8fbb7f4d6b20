#include "ui/win32/dialogs.h"
// (windows.h first: these need it)
#include <commdlg.h>
#include <shlobj.h>

#include <string>
#include <string_view>

#include "platform/win32/win32_util.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui::win32 {
namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

// The window in front of this thread (the dialog that asks) owns the box.
HWND Owner() {
    return ::GetActiveWindow();
}

int Box(std::string_view text, UINT type) {
    return ::MessageBoxW(Owner(), Widen(text).c_str(), Widen(rules::text::kBoxCaption).c_str(),
                         type);
}

// Opens the chooser where the dialogs open, on the folder it is handed.
int CALLBACK Preselect(HWND chooser, UINT message, LPARAM, LPARAM start) {
    if (message != BFFM_INITIALIZED) return 0;
    PlaceTopLevel(chooser);
    if (start) ::SendMessageW(chooser, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}

// Places the first dialog window this thread activates while it lives:
// the file chooser, whose own hook would bring back an older look.
class PlaceNextDialog {
public:
    PlaceNextDialog()
        : hook_(::SetWindowsHookExW(WH_CBT, Activated, nullptr, ::GetCurrentThreadId())) {
        placed = false;
    }
    ~PlaceNextDialog() {
        if (hook_) ::UnhookWindowsHookEx(hook_);
    }
    PlaceNextDialog(const PlaceNextDialog&) = delete;
    PlaceNextDialog& operator=(const PlaceNextDialog&) = delete;

private:
    static LRESULT CALLBACK Activated(int code, WPARAM wParam, LPARAM lParam) {
        const auto window = reinterpret_cast<HWND>(wParam);
        wchar_t kind[16] = {};
        if (code == HCBT_ACTIVATE && !placed && ::GetClassNameW(window, kind, 16) &&
            std::wstring_view(kind) == L"#32770") {
            placed = true;
            PlaceTopLevel(window);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline thread_local bool placed = false;
    HHOOK hook_;
};

// Paths as long as the system makes them.
constexpr std::size_t kPathChars = 32768;

}  // namespace

void WindowsPrompts::Notice(std::string_view text) {
    Box(text, MB_OK | MB_ICONWARNING);
}

bool WindowsPrompts::Question(std::string_view text) {
    return Box(rules::QuestionAsShown(text), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<std::string> WindowsPrompts::ChooseFolder(std::string_view title,
                                                        std::string_view start) {
    const platform::win32::ComScope com;
    const std::wstring wideTitle = Widen(title);
    const std::wstring wideStart = Widen(start);
    std::wstring name(MAX_PATH, L'\0');
    BROWSEINFOW info{};
    info.hwndOwner = Owner();
    info.pszDisplayName = name.data();
    info.lpszTitle = wideTitle.c_str();
    info.lpfn = Preselect;
    info.lParam = wideStart.empty() ? 0 : reinterpret_cast<LPARAM>(wideStart.c_str());
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
    if (!chosen) return std::nullopt;
    std::wstring path(kPathChars, L'\0');
    const BOOL named = ::SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                               GPFIDL_DEFAULT);
    ::CoTaskMemFree(chosen);
    if (!named) return std::nullopt;
    path.resize(path.find(L'\0'));
    return Narrow(path);
}

std::optional<std::string> WindowsPrompts::ChooseFile(const rules::FileChoice& choice) {
    // Each filter as its text and its patterns, each ended by a null, and a
    // null after the last.
    std::wstring filter;
    for (const rules::FileFilter& f : choice.filters) {
        filter += Widen(f.text) + L'\0' + Widen(f.patterns) + L'\0';
    }
    filter += L'\0';
    const std::wstring title = Widen(choice.title);
    std::wstring path(kPathChars, L'\0');
    OPENFILENAMEW open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = Owner();
    open.lpstrFilter = filter.c_str();
    open.nFilterIndex = 1;
    open.lpstrFile = path.data();
    open.nMaxFile = static_cast<DWORD>(path.size());
    open.lpstrTitle = title.c_str();
    open.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    const PlaceNextDialog place;
    if (!::GetOpenFileNameW(&open)) return std::nullopt;
    path.resize(path.find(L'\0'));
    return Narrow(path);
}

}  // namespace tavren::ui::win32
