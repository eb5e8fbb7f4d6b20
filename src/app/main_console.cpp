// Tavren3.com, the console companion of Tavren3.exe. Typed as `Tavren3` in
// cmd or PowerShell, it is found first (PATHEXT lists .COM before .EXE);
// being a console program, the shell waits for it, a question reads the
// answer typed in that console and the exit status reaches %ERRORLEVEL%.
// It runs the watch entries' commands itself, with the code Tavren3.exe
// uses; everything else (the tray, --headless, --help) is Tavren3.exe's,
// started beside it with the same arguments.

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/entry_commands.h"
#include "app/run_language.h"
#include "app/win32/console_output.h"
#include "platform/descriptors.h"
#include "platform/signals.h"
#include "platform/win32/console.h"

int main() {
    using namespace tavren;
    platform::OccupyClosedStandardDescriptors();
    platform::IgnoreBrokenPipe();
    const std::vector<std::string> words = platform::win32::CommandLineArguments();
    const auto arguments =
        std::span<const std::string>(words).subspan(std::min<std::size_t>(words.size(), 1));
    if (app::NamesEntryCommand(arguments)) {
        app::SetStartedAs(words.empty() ? nullptr : words.front().c_str(), "Tavren3");
        // Output to the console as UTF-16, whatever its code page.
        const app::win32::ParentConsoleOutput console;
        return app::RunEntryCommand(arguments, app::StartedAs()).value_or(2);
    }
    if (platform::win32::StartBesideWithSameArguments(L"Tavren3.exe")) return 0;
    const app::win32::ParentConsoleOutput console;
    std::fputs("Tavren3: Tavren3.exe を起動できませんでした。\n", stderr);
    return 1;
}
