// tavren3-headless: the watch engine alone, for machines without a desktop.
// It links neither Qt nor any other desktop library, so it starts on a
// bare server and stays small; `tavren3 --headless` runs the same code.

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_args.h"
#include "app/entry_commands.h"
#include "app/headless.h"
#include "app/run_language.h"
#include "app/usage.h"
#include "platform/descriptors.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
    using namespace tavren;
    platform::OccupyClosedStandardDescriptors();
    platform::IgnoreBrokenPipe();
    platform::RaiseDescriptorLimit();
    const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
    app::SetStartedAs(argc > 0 ? argv[0] : nullptr, "tavren3-headless");
    const std::string& name = app::StartedAs();
    if (auto status = app::RunEntryCommand(words, name)) return *status;
    // --headless is accepted, so both programs take the same command line.
    const app::CommandArgs args = app::ParseCommandArgs(words);
    const std::string usage = app::UsageText(name, false);
    if (auto status = app::AnswerWithoutRunning(args, usage.c_str())) return *status;
    auto data = app::OpenDataFolder(args);
    if (!data) return 1;
    return app::RunHeadless(*data, name);
}
