#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <shellapi.h>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

// Windows keeps no zombies: a process that nobody waits for needs only its
// handles closed, so there is nothing to reap in the background.
class Win32ProcessLauncher final : public ProcessLauncher {
public:
    bool RunAndWait(std::string_view commandLine, const WakeEvent& stop) override {
        // The same words that the started program's runtime will see; a line
        // without a program is refused here as on every platform.
        const std::vector<std::string> words = SplitCommandLine(commandLine);
        if (words.empty() || words[0].empty()) return false;

        // CreateProcessW may write into the command line, so it gets a copy.
        // No application name: the system finds the program from the line
        // itself (the program's folder, the current one, the system's, PATH).
        std::wstring line = win32::Widen(commandLine);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info)) {
            return false;
        }
        win32::UniqueHandle process(info.hProcess);
        ::CloseHandle(info.hThread);

        // A stop leaves the program running; only our handle goes.
        const HANDLE handles[2] = {stop.NativeHandle(), process.get()};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        return true;
    }

    bool Open(const std::filesystem::path& fileOrProgram) override {
        if (fileOrProgram.empty()) return false;
        // The shell may hand the file to extensions that need COM on the
        // calling thread, a worker that has not set it up.
        win32::ComScope com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        const HINSTANCE result =
            ::ShellExecuteW(nullptr, L"open", fileOrProgram.c_str(), nullptr, nullptr, SW_SHOW);
        // Values above 32 mean success; the rest are error codes.
        return reinterpret_cast<INT_PTR>(result) > 32;
    }
};

}  // namespace

std::unique_ptr<ProcessLauncher> MakeProcessLauncher() {
    return std::make_unique<Win32ProcessLauncher>();
}

}  // namespace tavren::platform
