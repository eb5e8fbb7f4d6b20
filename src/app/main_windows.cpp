// The Windows program: the tray program, or with --headless the watch
// engine alone, as on Linux. It is a program of the GUI subsystem, so a
// start from the desktop opens no console window; the headless runner and
// the answers to --help and --version use the console it was started from.

#include <windows.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "app/command_args.h"
#include "app/entry_commands.h"
#include "app/headless.h"
#include "app/run_language.h"
#include "app/usage.h"
#include "app/win32/console_output.h"
#include "app/win32/tray_app.h"
#include "platform/descriptors.h"
#include "platform/signals.h"
#include "platform/win32/console.h"
#include "platform/win32/wide_text.h"

int main() {
    using namespace tavren;
    platform::OccupyClosedStandardDescriptors();
    platform::IgnoreBrokenPipe();
    platform::RaiseDescriptorLimit();
    const std::vector<std::string> words = platform::win32::CommandLineArguments();
    const auto arguments =
        std::span<const std::string>(words).subspan(std::min<std::size_t>(words.size(), 1));
    app::SetStartedAs(words.empty() ? nullptr : words.front().c_str(), "Tavren3");
    const std::string& name = app::StartedAs();
    // The watch entries' commands answer on the console they were typed in.
    if (app::NamesEntryCommand(arguments)) {
        const app::win32::ParentConsoleOutput console;
        return app::RunEntryCommand(arguments, name).value_or(2);
    }
    const app::CommandArgs args = app::ParseCommandArgs(arguments);

    if (args.headless || args.request != app::CommandArgs::Request::Run) {
        const app::win32::ParentConsoleOutput console;
        if (auto status = app::AnswerWithoutRunning(args, app::UsageText(name, true).c_str())) {
            return *status;
        }
        auto data = app::OpenDataFolder(args);
        if (!data) return 1;
        return app::RunHeadless(*data, name);
    }

    std::string failure;
    auto data = app::OpenDataFolder(args, &failure);
    if (!data) {
        ::MessageBoxW(nullptr, platform::win32::Widen(failure).c_str(), L"Tavren3",
                      MB_OK | MB_ICONWARNING);
        return 1;
    }
    return app::win32::RunTray(*data, app::win32::ProgramInstanceName());
}
