#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <shellapi.h>

#include "platform/command_line.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

// Starts the program of a stored line; an invalid handle when none started.
// No application name: the system finds the program from the line itself
// (the program's folder, the current one, the system's, PATH) and tries an
// unquoted path with spaces at each space in turn.
win32::UniqueHandle StartProcess(std::string_view commandLine) {
    // The same words that the started program's runtime will see; a line
    // without a program is refused here as on every platform.
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty() || words[0].empty()) return {};
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring line = win32::Widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return {};
    }
    ::CloseHandle(info.hThread);
    return win32::UniqueHandle(info.hProcess);
}

// Hands `file` to the application the shell associates with its kind.
bool ShellOpen(const std::filesystem::path& file) {
    // The shell may hand the file to extensions that need COM on the
    // calling thread, a worker that has not set it up.
    win32::ComScope com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOW);
    // Values above 32 mean success; the rest are error codes.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// The file a program line names as a whole, quoted or not: a document
// stored in place of a program.
std::filesystem::path WholeLine(std::string_view commandLine) {
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.size() == 1) return win32::Widen(words[0]);
    const std::size_t first = commandLine.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = commandLine.find_last_not_of(" \t");
    return win32::Widen(commandLine.substr(first, last - first + 1));
}

// Windows keeps no zombies: a process that nobody waits for needs only its
// handles closed, so there is nothing to reap in the background.
class Win32ProcessLauncher final : public ProcessLauncher {
public:
    bool RunAndWait(std::string_view commandLine, const WakeEvent& stop) override {
        const win32::UniqueHandle process = StartProcess(commandLine);
        if (!process) return false;
        // A stop leaves the program running; only our handle goes.
        const HANDLE handles[2] = {stop.NativeHandle(), process.get()};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        return true;
    }

    bool StartProgram(std::string_view commandLine) override {
        if (StartProcess(commandLine)) return true;
        const std::filesystem::path document = WholeLine(commandLine);
        return !document.empty() && Exists(document) && !IsFolder(document) && ShellOpen(document);
    }

    OpenResult OpenDocument(const std::filesystem::path& file) override {
        if (file.empty()) return OpenResult::Failed;
        if (IsExecutableKind(file)) return OpenResult::Refused;
        return ShellOpen(file) ? OpenResult::Opened : OpenResult::Failed;
    }
};

}  // namespace

std::unique_ptr<ProcessLauncher> MakeProcessLauncher() {
    return std::make_unique<Win32ProcessLauncher>();
}

}  // namespace tavren::platform
