#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "platform/startup_shortcut.h"

namespace tavren::platform {
namespace {

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* operator->() const { return p_; }
    T* get() const { return p_; }
    // For the calls that hand out a new reference.
    void** out() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

std::error_code FromHResult(HRESULT hr) {
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) return win32::ErrorFrom(HRESULT_CODE(hr));
    return {static_cast<int>(hr), std::system_category()};
}

// The shell link object with its file persistence, on a thread with COM.
struct ShellLink {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;

    HRESULT Create() {
        HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellLinkW, link.out());
        if (FAILED(hr)) return hr;
        return link->QueryInterface(IID_IPersistFile, file.out());
    }
};

}  // namespace

std::filesystem::path StartupShortcutPath(std::string_view name) {
    wchar_t folder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE) || folder[0] == L'\0') {
        return {};
    }
    return std::filesystem::path(folder) / win32::Widen(name);
}

std::error_code CreateShortcut(const std::filesystem::path& link,
                               const std::filesystem::path& target, std::string_view description,
                               std::string_view arguments) {
    win32::ComScope com;
    if (!com.ok()) return std::make_error_code(std::errc::operation_not_supported);
    ShellLink shell;
    if (HRESULT hr = shell.Create(); FAILED(hr)) return FromHResult(hr);
    shell.link->SetPath(target.c_str());
    shell.link->SetDescription(win32::Widen(description).c_str());
    shell.link->SetArguments(win32::Widen(arguments).c_str());
    shell.link->SetWorkingDirectory(L"");
    shell.link->SetIconLocation(L"", 0);
    shell.link->SetShowCmd(SW_SHOWNORMAL);
    // Save replaces an existing file of that name.
    if (HRESULT hr = shell.file->Save(link.c_str(), TRUE); FAILED(hr)) return FromHResult(hr);
    return {};
}

std::error_code ReadShortcut(const std::filesystem::path& link, ShortcutInfo& out) {
    win32::ComScope com;
    if (!com.ok()) return std::make_error_code(std::errc::operation_not_supported);
    ShellLink shell;
    if (HRESULT hr = shell.Create(); FAILED(hr)) return FromHResult(hr);
    if (HRESULT hr = shell.file->Load(link.c_str(), STGM_READ); FAILED(hr)) return FromHResult(hr);

    // INFOTIPSIZE (1024) bounds descriptions and arguments.
    std::vector<wchar_t> text(1024);
    const int size = static_cast<int>(text.size());
    if (SUCCEEDED(shell.link->GetPath(text.data(), size, nullptr, SLGP_RAWPATH))) {
        out.target = text.data();
    }
    text[0] = L'\0';
    if (SUCCEEDED(shell.link->GetArguments(text.data(), size)))
        out.arguments = win32::Narrow(text.data());
    text[0] = L'\0';
    if (SUCCEEDED(shell.link->GetDescription(text.data(), size))) {
        out.description = win32::Narrow(text.data());
    }
    out.showCommand = 0;
    shell.link->GetShowCmd(&out.showCommand);
    return {};
}

std::error_code RemoveShortcut(const std::filesystem::path& link) {
    if (::DeleteFileW(link.c_str())) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return win32::ErrorFrom(error);
}

std::filesystem::path CurrentExecutable() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n));
        buffer.resize(buffer.size() * 2);  // the name was cut short
    }
}

}  // namespace tavren::platform
