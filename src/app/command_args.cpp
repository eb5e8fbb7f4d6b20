#include "app/command_args.h"

#include <cstdio>
#include <string_view>

#include "app/version.h"
#include "platform/path_text.h"

namespace tavren::app {

CommandArgs ParseCommandArgs(std::span<const std::string> args) {
    CommandArgs parsed;
    constexpr std::string_view kDataDirIs = "--data-dir=";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            parsed.request = CommandArgs::Request::Help;
            return parsed;
        }
        if (arg == "--version") {
            parsed.request = CommandArgs::Request::Version;
            return parsed;
        }
        if (arg == "--headless") {
            parsed.headless = true;
        } else if (arg == "--data-dir" && i + 1 < args.size()) {
            parsed.dataDir = platform::PathFromUtf8(args[++i]);
        } else if (arg.starts_with(kDataDirIs)) {
            parsed.dataDir = platform::PathFromUtf8(arg.substr(kDataDirIs.size()));
        } else {
            parsed.request = CommandArgs::Request::Invalid;
            parsed.invalid = arg;
            return parsed;
        }
    }
    return parsed;
}

std::optional<int> AnswerWithoutRunning(const CommandArgs& args, const char* usage) {
    switch (args.request) {
        case CommandArgs::Request::Help:
            std::fputs(usage, stdout);
            return 0;
        case CommandArgs::Request::Version:
            std::printf("%s\n", kVersionText);
            return 0;
        case CommandArgs::Request::Invalid:
            std::fprintf(stderr, "tavren3: 不明な引数です: %s\n\n%s", args.invalid.c_str(), usage);
            return 2;
        case CommandArgs::Request::Run:
            break;
    }
    return std::nullopt;
}

std::optional<store::DataFolder> OpenDataFolder(const CommandArgs& args) {
    std::string error;
    auto data = store::DataFolder::Resolve(args.dataDir, error);
    if (!data) {
        std::fprintf(stderr, "tavren3: %s\n", error.c_str());
        return std::nullopt;
    }
    if (auto s = data->Prepare(); !s) {
        std::fprintf(stderr, "tavren3: %s\n", s.message().c_str());
        return std::nullopt;
    }
    return data;
}

}  // namespace tavren::app
