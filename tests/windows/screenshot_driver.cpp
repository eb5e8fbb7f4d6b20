// Takes the README's pictures of the Windows program: starts Tavren3.exe,
// opens its windows one after another through its own messages, as the
// icon's menu and the dialogs' buttons send them, and writes each window as
// it shows on the screen into a BMP file. scripts/screenshots-windows.sh
// runs it under Wine on a virtual desktop and turns the files into PNGs.
//
//   tavren_screenshots PROGRAM DATA_DIR OUT_DIR NEW_FILE
//
// DATA_DIR holds the sample settings; NEW_FILE is made in a folder of an
// entry that tells each new file in a box. Ends with status 1 and a line
// on the error output when a window does not show within the time limit.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// (windows.h first)
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "app_ids.h"
#include "dialog_ids.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kLimit = 30s;  // for any one window to show or to go
constexpr UINT kIconMessage = WM_USER + 500;  // the tray window's icon callback
constexpr UINT kIconId = 100;

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;
struct DcDeleter {
    void operator()(HDC dc) const { ::DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
struct ObjectDeleter {
    void operator()(HGDIOBJ o) const { ::DeleteObject(o); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, ObjectDeleter>;
// The whole screen's device context, released again at the end of its scope.
struct ScreenDc {
    HDC dc = ::GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() { ::ReleaseDC(nullptr, dc); }
};

// The program under way: ended on every way out, so that no run leaves it.
UniqueHandle g_program;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "screenshots: %s\n", what.c_str());
    if (g_program) ::TerminateProcess(g_program.get(), 9);
    std::exit(1);
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

DWORD g_programId = 0;

// The program's visible top-level windows: its frame is never visible, so
// these are its dialogs, boxes and menus.
std::set<HWND> ProgramWindows() {
    std::set<HWND> found;
    ::EnumWindows(
        [](HWND w, LPARAM l) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(w, &process);
            RECT r{};
            if (process == g_programId && ::IsWindowVisible(w) && ::GetWindowRect(w, &r) &&
                r.right > r.left && r.bottom > r.top)
                reinterpret_cast<std::set<HWND>*>(l)->insert(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Waits for a window of the program that is not among `before`.
HWND NewWindow(const std::set<HWND>& before, const char* what) {
    HWND found = nullptr;
    if (!WaitFor([&] {
            for (HWND w : ProgramWindows())
                if (!before.contains(w)) return (found = w) != nullptr;
            return false;
        }))
        Fail(std::string(what) + " did not show within " + std::to_string(kLimit.count()) + " s");
    return found;
}

void WaitGone(HWND window, const char* what) {
    if (!WaitFor([&] { return !::IsWindow(window) || !::IsWindowVisible(window); }))
        Fail(std::string(what) + " did not close within " + std::to_string(kLimit.count()) + " s");
}

BITMAPINFOHEADER Header(int width, int height) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width, h.biHeight = height;  // positive: bottom row first
    h.biPlanes = 1, h.biBitCount = 24, h.biCompression = BI_RGB;
    return h;
}

// The pixels of a rectangle of the screen, 24 bits, bottom row first.
std::vector<char> Grab(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    const ScreenDc screenDc;
    const HDC screen = screenDc.dc;
    UniqueDc memory(::CreateCompatibleDC(screen));
    BITMAPINFO info{};
    info.bmiHeader = Header(w, h);
    void* bits = nullptr;
    UniqueBitmap bitmap(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !memory) Fail("cannot make a bitmap to capture into");
    const HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    ::SelectObject(memory.get(), old);
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    const char* begin = static_cast<const char*>(bits);
    return std::vector<char>(begin, begin + stride * h);
}

fs::path g_out;

// Writes the rectangle as NAME.bmp once painting has settled: two grabs a
// quarter second apart agree (else the last one after the time limit).
void Shot(const char* name, const RECT& r) {
    std::vector<char> pixels = Grab(r), previous;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    do {
        std::this_thread::sleep_for(250ms);
        previous = std::move(pixels);
        pixels = Grab(r);
    } while (pixels != previous && std::chrono::steady_clock::now() < deadline);

    BITMAPINFOHEADER header = Header(r.right - r.left, r.bottom - r.top);
    header.biSizeImage = static_cast<DWORD>(pixels.size());
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    const fs::path path = g_out / (std::string(name) + ".bmp");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    if (!out.flush()) Fail("cannot write " + path.string());
    std::printf("screenshots: %s (%ld x %ld)\n", path.filename().string().c_str(),
                header.biWidth, header.biHeight);
    std::fflush(stdout);
}

RECT RectOf(HWND w) {
    RECT r{};
    ::GetWindowRect(w, &r);
    return r;
}
RECT Union(RECT a, const RECT& b) {
    a.left = std::min(a.left, b.left), a.top = std::min(a.top, b.top);
    a.right = std::max(a.right, b.right), a.bottom = std::max(a.bottom, b.bottom);
    return a;
}

void Command(HWND dialog, int id) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

// The icon's menu, opened as a right click on the icon opens it, with the
// end of the taskbar where the icon sits.
void ShotMenu(HWND frame) {
    const HWND taskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT bar{};
    if (taskbar) {
        bar = RectOf(taskbar);
    } else {
        bar = {0, ::GetSystemMetrics(SM_CYSCREEN) - 1, ::GetSystemMetrics(SM_CXSCREEN),
               ::GetSystemMetrics(SM_CYSCREEN)};
    }
    ::SetCursorPos(bar.right - 12, (bar.top + bar.bottom) / 2);
    const std::set<HWND> before = ProgramWindows();
    ::PostMessageW(frame, kIconMessage, kIconId, WM_RBUTTONUP);
    const HWND menu = NewWindow(before, "the icon's menu");
    RECT area = RectOf(menu);
    area.left -= 12, area.top -= 12;
    if (taskbar) area = Union(area, {area.left, bar.top, bar.right, bar.bottom});
    Shot("tray-menu", area);
    ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    WaitGone(menu, "the icon's menu");
}

// Shows a window of the program through `open` and captures it as NAME.
HWND Open(const char* name, const char* what, const std::function<void()>& open) {
    const std::set<HWND> before = ProgramWindows();
    open();
    const HWND shown = NewWindow(before, what);
    Shot(name, RectOf(shown));
    return shown;
}

// Brings the editor's tab control to `tab` as the arrow keys do, and waits
// until the editor has taken the switch.
void ChooseTab(HWND editor, int tab) {
    const HWND tabs = ::GetDlgItem(editor, IDC_EDIT_TABS);
    auto current = [&] { return static_cast<int>(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0)); };
    while (current() != tab) {
        const int from = current();
        ::PostMessageW(tabs, WM_KEYDOWN, from < tab ? VK_RIGHT : VK_LEFT, 0);
        if (!WaitFor([&] { return current() != from; }))
            Fail("the editor did not switch from page " + std::to_string(from));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: tavren_screenshots PROGRAM DATA_DIR OUT_DIR NEW_FILE\n");
        return 2;
    }
    const fs::path program = argv[1], data = argv[2], newFile = argv[4];
    g_out = argv[3];
    fs::create_directories(g_out);

    std::wstring line = L"\"" + program.wstring() + L"\" --data-dir \"" + data.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        Fail("cannot start " + program.string());
    ::CloseHandle(info.hThread);
    g_program.reset(info.hProcess);
    g_programId = info.dwProcessId;

    HWND frame = nullptr;
    const std::wstring instance = program.stem().wstring();
    if (!WaitFor([&] {
            frame = ::FindWindowW(L"Tavren3.MainFrame", nullptr);
            return frame && ::GetPropW(frame, instance.c_str());
        }))
        Fail("the program's window did not appear");

    ShotMenu(frame);

    const HWND about = Open("about", "the version box",
                            [&] { ::PostMessageW(frame, WM_COMMAND, ID_APP_ABOUT, 0); });
    Command(about, IDOK);
    WaitGone(about, "the version box");

    const HWND list = Open("watch-list", "the watch folder list",
                           [&] { ::PostMessageW(frame, WM_COMMAND, ID_WATCH_SETTINGS, 0); });

    // The second entry, selected and opened in the editor; each page of it.
    const HWND entries = ::GetDlgItem(list, IDC_LIST_ENTRIES);
    ::SendMessageW(entries, LB_SETCURSEL, 1, 0);
    ::PostMessageW(list, WM_COMMAND, MAKEWPARAM(IDC_LIST_ENTRIES, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(entries));
    const std::set<HWND> beforeEditor = ProgramWindows();
    Command(list, IDC_LIST_CHANGE);
    const HWND editor = NewWindow(beforeEditor, "the entry editor");
    const char* pages[] = {"editor-target", "editor-notice", "editor-after"};
    for (int tab = 0; tab < 3; ++tab) {
        ChooseTab(editor, tab);
        Shot(pages[tab], RectOf(editor));
    }
    Command(editor, IDCANCEL);
    WaitGone(editor, "the entry editor");

    // A change (the entry stopped or started), then Cancel: the question
    // whether the change may be lost. Yes closes the list.
    Command(list, IDC_LIST_RUN_STOP);
    const HWND question = Open("question", "the question about the unsaved change",
                               [&] { Command(list, IDCANCEL); });
    Command(question, IDYES);
    WaitGone(list, "the watch folder list");

    // A new file in a folder whose entry tells each one in a box.
    const HWND box = Open("message-box", "the box for a new file", [&] {
        std::ofstream(newFile, std::ios::binary) << "見積り\r\n";
    });
    Command(box, IDOK);
    WaitGone(box, "the box for a new file");

    ::PostMessageW(frame, WM_COMMAND, ID_APP_QUIT, 0);
    if (::WaitForSingleObject(g_program.get(), 30000) != WAIT_OBJECT_0)
        Fail("the program did not end after its Exit command");
    g_program.reset();
    return 0;
}
