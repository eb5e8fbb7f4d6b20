#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/command_line.h"

namespace tavren::platform {

class WakeEvent;

// What a started program is told of the file it runs for. With `values`,
// a line that ScanPlaceholders finds Valid has its placeholders replaced
// after it is split into words (Linux) or inside quotes of their own
// (Windows), so a value always stays within its argument; other lines run
// as they are. `environment` is set in the program's environment, over a
// variable of the same name. Texts are UTF-8 as the program keeps them: on
// Linux they go out as those bytes (a file name that is not UTF-8 passes
// as the system holds it), on Windows as UTF-16.
struct LaunchContext {
    std::optional<PlaceholderValues> values;
    std::vector<std::pair<std::string, std::string>> environment;
    // Where the launcher tells what became of the program, when set.
    struct ProcessRun* run = nullptr;
};

// A program started by RunAndWait or StartProgram, for the activity log.
struct ProcessRun {
    long pid = 0;                     // 0 when no process was started (or a document was opened)
    bool ended = false;               // waited for until it ended (not cut short by a stop)
    int exitCode = 0;                 // its exit status, when it ended without a signal
    int signal = 0;                   // the signal that ended it (Linux)
    std::chrono::milliseconds ran{};  // from start to end
};

// Starts programs and opens files for the watch actions. Programs are never
// started through a shell: what the user stored is split into words
// (SplitCommandLine) and the first word is run directly.
//
// Thread safety: several worker threads may call every member at the
// same time. Every child that is not waited for (those started without waiting, and those of
// a wait cut short by `stop`) is reaped in the background, so none is left
// as a zombie; no SIGCHLD handler is installed. The launcher must outlive
// every call; its destructor stops the background reaping at once and
// leaves children that still run to themselves.
//
// Children start with an empty signal mask, default handling of the signals
// the program blocks or ignores, standard input from /dev/null, their
// standard output joined to our standard error (the headless watcher's
// standard output carries its messages alone), and no other descriptor of
// this process.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts the stored program line `commandLine` and waits until the
    // program ends or `stop` is set; in the latter case the program goes on
    // running, with `context` applied. The program is found as Windows' CreateProcess finds it: a
    // quoted first word is the program; an unquoted line whose first word
    // names no program is tried at each later space (`/opt/My Tools/run -x`
    // runs `/opt/My Tools/run` with `-x` when `/opt/My` is no file), and the
    // rest of the line after the program holds its arguments. A name without
    // '/' is looked up in PATH. Returns false, at once, when no process could
    // be started.
    virtual bool RunAndWait(std::string_view commandLine, const WakeEvent& stop,
                            const LaunchContext& context = {}) = 0;

    // Starts the stored program line without waiting, found and split as
    // RunAndWait does, arguments included. A line that names an existing
    // file which is not a program (a document) opens it in the desktop's
    // application for it instead. Returns false when nothing could be
    // started.
    virtual bool StartProgram(std::string_view commandLine, const LaunchContext& context = {}) = 0;

    enum class OpenResult {
        Opened,   // handed to the desktop's opener
        Refused,  // a file of an executable kind: never opened
        Failed,   // missing file, or no opener
    };

    // Opens a watched (target) file in the application the desktop
    // associates with it (`xdg-open`, the shell's "open"). Never runs it:
    // whatever its permission bits, a file is not started as a program, and
    // a file of an executable kind (see IsExecutableKind) is refused.
    virtual OpenResult OpenDocument(const std::filesystem::path& file) = 0;
};

// True for a file that an opener would run rather than show: on Windows the
// kinds in PATHEXT and the other launchable kinds (.scr, .lnk, .pif, .msi,
// .hta, ...), on Linux those too (Wine registers itself for them) plus
// desktop entries, AppImages and files whose first bytes are a program's
// (an ELF or PE header, or "#!" on a file marked executable).
bool IsExecutableKind(const std::filesystem::path& file);

std::unique_ptr<ProcessLauncher> MakeProcessLauncher();

// Opens one of the program's own pages (its help) in the desktop's
// application for it and waits until the opener is done with it (xdg-open
// may wait for the browser it starts) or `stop` is set. True when the
// opener reported success; false when it failed (xdg-open's non-zero
// status: no browser, say), could not start, or `stop` came first. A
// stopped wait leaves the opener running; its status is then not collected,
// which only a program on its way out may do.
bool OpenPageAndWait(const std::filesystem::path& page, const WakeEvent& stop);

// Whether a process with this id still runs. A process of another user
// counts as running; on Linux a zombie does too.
bool ProcessRunning(long pid);

}  // namespace tavren::platform
