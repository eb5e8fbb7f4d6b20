#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_args.h"
#include "app/entry_commands.h"
#include "app/headless.h"
#include "app/qt/startup_failure.h"
#include "app/qt/tray_app.h"
#include "app/run_language.h"
#include "app/usage.h"
#include "platform/descriptors.h"
#include "platform/env.h"
#include "platform/path_text.h"
#include "platform/signals.h"
#include "platform/start_with_desktop.h"

int main(int argc, char** argv) {
    // Before anything opens a file or starts a thread: in every mode.
    tavren::platform::OccupyClosedStandardDescriptors();
    tavren::platform::IgnoreBrokenPipe();
    tavren::platform::RaiseDescriptorLimit();
    const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
    tavren::app::SetStartedAs(argc > 0 ? argv[0] : nullptr, "tavren3");
    const std::string& name = tavren::app::StartedAs();
    if (auto status = tavren::app::RunEntryCommand(words, name)) return *status;
    const tavren::app::CommandArgs args = tavren::app::ParseCommandArgs(words);
    const std::string usage = tavren::app::UsageText(name, true);
    if (auto status = tavren::app::AnswerWithoutRunning(args, usage.c_str())) return *status;

    if (!args.headless && !tavren::app::HasDisplay()) {
        const tavren::app::Lang L{tavren::app::JapaneseLocale()};
        std::fprintf(stderr, "%s: %s\n", name.c_str(),
                     L("画面 (DISPLAY または WAYLAND_DISPLAY) がありません。"
                       "画面なしで監視するには --headless を付けて起動してください。",
                       "no display (DISPLAY or WAYLAND_DISPLAY): start with --headless to watch "
                       "without one.")
                         .c_str());
        return 2;
    }
    std::string failure;
    auto data = tavren::app::OpenDataFolder(args, &failure);
    if (!data) {
        if (!args.headless) tavren::app::ShowStartupFailure(argc, argv, failure);
        return 1;
    }
    if (args.headless) return tavren::app::RunHeadless(*data, name);
    // Started with the desktop, the program is to use this data folder too,
    // but the session passes on neither this run's arguments nor its
    // environment.
    if (args.dataDir || tavren::platform::GetEnv("TAVREN3_DATA_DIR")) {
        tavren::platform::SetStartArguments(
            {"--data-dir", tavren::platform::PathToUtf8(data->root())});
    }
    // Qt keeps references to argc and argv for the program's lifetime.
    return tavren::app::RunTray(argc, argv, *data);
}
