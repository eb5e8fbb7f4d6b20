// Keeps Wine's desktop process alive while the tests run: without a
// long-lived program, every test pays for the desktop starting up and
// shutting down again. A message-only window is enough; it never shows.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int main() {
    ::CreateWindowExW(0, L"STATIC", L"tavren-test-hold", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                      nullptr, nullptr);
    ::Sleep(INFINITE);
}
