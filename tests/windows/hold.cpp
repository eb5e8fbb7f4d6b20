// Without arguments: keeps Wine's desktop process alive while the tests
// run: without a long-lived program, every test pays for the desktop
// starting up and shutting down again. A message-only window is enough; it
// never shows.
//
// hold [-s] FILE...: holds each FILE open for writing, as a program still
// writing it would, until it is ended: sharing reading only, or after -s
// also writing and deletion, as the most lenient writers do. A probe of
// the test that has a file open for a moment is waited out.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, on which it builds.
#include <shellapi.h>

#include <string_view>

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 100;
    DWORD share = FILE_SHARE_READ;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == std::wstring_view(L"-s")) {
            share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            continue;
        }
        while (::CreateFileW(argv[i], GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE) {
            if (::GetLastError() != ERROR_SHARING_VIOLATION) return 101;
            ::Sleep(1);
        }
    }
    if (argc == 1) {
        ::CreateWindowExW(0, L"STATIC", L"tavren-test-hold", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          nullptr, nullptr);
    }
    ::Sleep(INFINITE);
}
