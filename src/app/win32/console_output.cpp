#include "app/win32/console_output.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

namespace tavren::app::win32 {
namespace {

// True when the standard handle goes nowhere or to a console: such output
// needs the parent's console. Files and pipes are left as they are.
bool NeedsConsole(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
    const DWORD type = ::GetFileType(handle);
    return type == FILE_TYPE_UNKNOWN || type == FILE_TYPE_CHAR;
}

// The length of `bytes` without a UTF-8 sequence cut off at its end.
std::size_t WholeSequences(const std::string& bytes) {
    const std::size_t n = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(bytes[n - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? n - back : n;
    }
    return n;
}

}  // namespace

ParentConsoleOutput::ParentConsoleOutput() {
    out_ = NeedsConsole(STD_OUTPUT_HANDLE);
    err_ = NeedsConsole(STD_ERROR_HANDLE);
    // A console that the program already has (handed down with the
    // standard handles) refuses the attach, and serves as well.
    if (!(out_ || err_) ||
        (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED)) {
        out_ = err_ = false;
        return;
    }
    console_ = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (console_ == INVALID_HANDLE_VALUE || !::CreatePipe(&read, &write, nullptr, 0)) {
        out_ = err_ = false;
        return;
    }
    pipe_ = read;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(write), _O_BINARY | _O_WRONLY);
    if (out_) ::_dup2(fd, 1);
    if (err_) ::_dup2(fd, 2);
    ::_close(fd);  // the copies as stdout/stderr keep the pipe open
    relay_ = std::thread([this] { Relay(); });
}

ParentConsoleOutput::~ParentConsoleOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    // The relay ends when the last write end of the pipe is closed.
    if (out_) ::_close(1);
    if (err_) ::_close(2);
    if (relay_.joinable()) relay_.join();
    if (pipe_) ::CloseHandle(pipe_);
    if (console_ && console_ != INVALID_HANDLE_VALUE) ::CloseHandle(console_);
}

void ParentConsoleOutput::Relay() {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    const auto write = [this](std::string_view text) {
        const std::wstring wide = platform::win32::Widen(text);
        DWORD written = 0;
        if (!wide.empty())
            ::WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    };
    while (::ReadFile(pipe_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        const std::size_t whole = WholeSequences(pending);
        write(std::string_view(pending).substr(0, whole));
        pending.erase(0, whole);
    }
    write(pending);
}

}  // namespace tavren::app::win32
