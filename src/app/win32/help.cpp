#include "app/win32/help.h"

#include <shellapi.h>

#include <fstream>
#include <system_error>

#include "app_ids.h"
#include "platform/win32/wide_text.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::app::win32 {
namespace {

// Started from the icon's menu, the program has no console to tell.
bool Fail(HWND owner, const std::wstring& text) {
    ::MessageBoxW(owner, text.c_str(), L"Tavren3", MB_OK | MB_ICONWARNING);
    return false;
}

std::filesystem::path ProgramFolder() {
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(std::wstring(self, n)).parent_path();
}

}  // namespace

std::filesystem::path HelpPage(HWND owner, const std::filesystem::path& scratch) {
    std::error_code error;
    const std::filesystem::path installed = ProgramFolder() / L"help" / L"index.html";
    if (std::filesystem::is_regular_file(installed, error)) return installed;

    const HMODULE self = ::GetModuleHandleW(nullptr);
    const HRSRC found =
        ::FindResourceW(self, MAKEINTRESOURCEW(IDR_HELP_PAGE), MAKEINTRESOURCEW(10));
    const HGLOBAL loaded = found ? ::LoadResource(self, found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) {
        Fail(owner, platform::win32::Widen(rules::text::kHelpMissing));
        return {};
    }
    std::filesystem::path folder = scratch;
    if (folder.empty()) folder = std::filesystem::temp_directory_path(error) / L"Tavren3" / L"help";
    const std::filesystem::path page = folder / L"index.html";
    std::filesystem::create_directories(folder, error);
    std::ofstream out(page, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), ::SizeofResource(self, found));
    out.close();
    if (!out) {
        Fail(owner, L"ヘルプ ページを " + page.wstring() + L" に書き出せません。");
        return {};
    }
    return page;
}

bool OpenHelp(HWND owner) {
    const std::filesystem::path page = HelpPage(owner);
    if (page.empty()) return false;
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(owner, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) {
        return Fail(owner, platform::win32::Widen(rules::text::kHelpNotOpened) + page.wstring());
    }
    return true;
}

}  // namespace tavren::app::win32
