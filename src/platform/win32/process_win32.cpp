#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

// An inheritable duplicate of a standard handle; invalid when there is none
// (a program without a console).
win32::UniqueHandle InheritableCopy(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
        return {};
    }
    return win32::UniqueHandle(copy);
}

// The line to start: a Valid line's placeholders replaced, each within an
// argument of its own; any other line as it is.
std::string LineOf(std::string_view commandLine, const LaunchContext& context) {
    if (!context.values) return std::string(commandLine);
    return ExpandQuotedLine(commandLine, *context.values);
}

// Our environment with `context`'s variables set over it, as the block
// CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT: "NAME=value" texts
// sorted by name without regard to case, each ended by a null, and a null
// after the last. Empty when the context adds nothing.
std::wstring EnvironmentBlock(const LaunchContext& context) {
    if (context.environment.empty()) return {};
    const auto sameName = [](std::wstring_view a, std::wstring_view b) {
        return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                      static_cast<int>(b.size()), TRUE);
    };
    // The name ends at the first '=' after the first character: the hidden
    // "=C:=C:\dir" entries start with one.
    const auto nameOf = [](std::wstring_view entry) {
        return entry.substr(0, entry.find(L'=', 1));
    };
    std::vector<std::wstring> entries;
    for (const auto& [name, value] : context.environment) {
        entries.push_back(win32::Widen(name) + L'=' + win32::Widen(value));
    }
    const std::unique_ptr<wchar_t, decltype(&::FreeEnvironmentStringsW)> own(
        ::GetEnvironmentStringsW(), &::FreeEnvironmentStringsW);
    for (const wchar_t* e = own.get(); e && *e; e += std::wcslen(e) + 1) {
        const std::wstring_view entry(e);
        const bool replaced = std::ranges::any_of(context.environment, [&](const auto& v) {
            return sameName(nameOf(entry), win32::Widen(v.first)) == CSTR_EQUAL;
        });
        if (!replaced) entries.emplace_back(entry);
    }
    std::ranges::stable_sort(entries, [&](const std::wstring& a, const std::wstring& b) {
        return sameName(nameOf(a), nameOf(b)) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

// Starts the program of a stored line; an invalid handle when none started.
// No application name: the system finds the program from the line itself
// (the program's folder, the current one, the system's, PATH) and tries an
// unquoted path with spaces at each space in turn.
win32::UniqueHandle StartProcess(std::string_view storedLine, const LaunchContext& context) {
    const std::string commandLine = LineOf(storedLine, context);
    // The same words that the started program's runtime will see; a line
    // without a program is refused here as on every platform.
    const std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty() || words[0].empty()) return {};
    std::wstring environment = EnvironmentBlock(context);
    void* const envBlock = environment.empty() ? nullptr : environment.data();
    const DWORD envFlag = environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT;
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring line = win32::Widen(commandLine);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    PROCESS_INFORMATION info{};

    // The program's standard output joins our standard error: the headless
    // watcher's standard output carries its messages alone. The child
    // inherits those two handles and nothing else.
    win32::UniqueHandle input = InheritableCopy(::GetStdHandle(STD_INPUT_HANDLE));
    win32::UniqueHandle error = InheritableCopy(::GetStdHandle(STD_ERROR_HANDLE));
    std::vector<char> attributeBuffer;
    bool inherit = false;
    if (error) {
        HANDLE handles[2] = {error.get(), input.get()};
        const DWORD count = input ? 2 : 1;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributeBuffer.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
        if (::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
            ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                        count * sizeof(HANDLE), nullptr, nullptr)) {
            startup.lpAttributeList = list;
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = input.get();
            startup.StartupInfo.hStdOutput = error.get();
            startup.StartupInfo.hStdError = error.get();
            inherit = true;
        }
    }
    BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit,
                                    (inherit ? EXTENDED_STARTUPINFO_PRESENT : 0) | envFlag,
                                    envBlock, nullptr, &startup.StartupInfo, &info);
    if (!started && inherit) {
        // Systems that refuse the handle list (Wine, some versions): the
        // plain inheriting start, which passes the same standard handles.
        line = win32::Widen(commandLine);
        STARTUPINFOW plain = startup.StartupInfo;
        plain.cb = sizeof plain;
        started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, envFlag, envBlock,
                                   nullptr, &plain, &info);
    }
    if (startup.lpAttributeList) ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (!started) return {};
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
    bool RunAndWait(std::string_view commandLine, const WakeEvent& stop,
                    const LaunchContext& context) override {
        const win32::UniqueHandle process = StartProcess(commandLine, context);
        if (!process) return false;
        const auto started = std::chrono::steady_clock::now();
        if (context.run) context.run->pid = static_cast<long>(::GetProcessId(process.get()));
        // A stop leaves the program running; only our handle goes.
        const HANDLE handles[2] = {stop.NativeHandle(), process.get()};
        DWORD code = 0;
        if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 &&
            context.run && ::GetExitCodeProcess(process.get(), &code)) {
            context.run->ended = true;
            context.run->exitCode = static_cast<int>(code);
            context.run->ran = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
        }
        return true;
    }

    bool StartProgram(std::string_view commandLine, const LaunchContext& context) override {
        if (const win32::UniqueHandle process = StartProcess(commandLine, context)) {
            if (context.run) context.run->pid = static_cast<long>(::GetProcessId(process.get()));
            return true;
        }
        const std::filesystem::path document = WholeLine(LineOf(commandLine, context));
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

// The shell hands the page on before it answers: there is nothing to wait for.
bool OpenPageAndWait(const std::filesystem::path& page, const WakeEvent&) {
    return !page.empty() && ShellOpen(page);
}

bool ProcessRunning(long pid) {
    if (pid <= 0) return false;
    const win32::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    // No such id: ERROR_INVALID_PARAMETER. Refused access means it runs, as
    // another user or the system. A process that ended stays openable while
    // someone holds a handle on it.
    if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace tavren::platform
