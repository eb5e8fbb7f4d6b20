// A program for the process tests to start.
//   child                    writes "<own path>.ran" (for starts without arguments)
//   child touch FILE         creates FILE
//   child sleep MS [FILE]    waits MS milliseconds, then creates FILE if given
//   child exit N             ends with status N
//   child print TEXT         writes TEXT to its standard output
//   child args FILE ARGS...  writes each ARG, then $TAVREN3_NAME, a line each, to FILE in UTF-8

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, on which it builds.
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

void Touch(const wchar_t* file) {
    HANDLE h = ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 100;
    if (argc == 1) {
        wchar_t self[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        Touch((std::wstring(self, n) + L".ran").c_str());
        return 0;
    }
    const std::wstring command = argv[1];
    if (command == L"touch" && argc == 3) {
        Touch(argv[2]);
        return 0;
    }
    if (command == L"sleep" && argc >= 3) {
        ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        if (argc == 4) Touch(argv[3]);
        return 0;
    }
    if (command == L"exit" && argc == 3) return static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    if (command == L"print" && argc == 3) {
        const std::wstring text = argv[2];
        const std::string bytes(text.begin(), text.end());  // ASCII is enough here
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(),
                    static_cast<DWORD>(bytes.size()), &written, nullptr);
        return 0;
    }
    if (command == L"args" && argc >= 3) {
        std::wstring text;
        for (int i = 3; i < argc; ++i) text += std::wstring(argv[i]) + L'\n';
        wchar_t value[512] = {};
        ::GetEnvironmentVariableW(L"TAVREN3_NAME", value, 512);
        text += std::wstring(value) + L'\n';
        std::string bytes(text.size() * 3, '\0');
        bytes.resize(static_cast<std::size_t>(
            ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
        HANDLE h = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 102;
        DWORD written = 0;
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(h);
        return 0;
    }
    return 101;
}
