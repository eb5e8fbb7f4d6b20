#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace tavren::platform {

class WakeEvent;

// Starts programs and opens files for the watch actions. Programs are never
// started through a shell: what the user stored is split into words
// (SplitCommandLine) and the first word is run directly.
//
// Thread safety: several worker threads may call RunAndWait and Open at the
// same time. Every child that is not waited for (those of Open, and those of
// a wait cut short by `stop`) is reaped in the background, so none is left
// as a zombie; no SIGCHLD handler is installed. The launcher must outlive
// every call; its destructor stops the background reaping at once and
// leaves children that still run to themselves.
//
// Children start with an empty signal mask, default handling of the signals
// the program blocks or ignores, standard input from /dev/null, and no
// descriptor of this process other than standard output and error.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;

    // Starts `commandLine` and waits until the program ends or `stop` is set;
    // in the latter case the program goes on running. The program is looked
    // up in PATH when its name has no '/'. Returns false, at once, when no
    // process could be started.
    virtual bool RunAndWait(std::string_view commandLine, const WakeEvent& stop) = 0;

    // Opens a file or starts a program without waiting. An executable
    // regular file is started itself, without arguments; a bare name with no
    // '/' is first looked up as a program in PATH; anything else (a
    // document, a folder, or a file marked executable that the system cannot
    // run) is handed to the desktop's opener, `xdg-open`. Returns false when
    // nothing could be started: the file does not exist, or the opener is
    // missing.
    virtual bool Open(const std::filesystem::path& fileOrProgram) = 0;
};

std::unique_ptr<ProcessLauncher> MakeProcessLauncher();

}  // namespace tavren::platform
