#include "app/command_args.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "app/run_language.h"
#include "app/usage.h"
#include "app/version.h"
#include "platform/path_text.h"

namespace tavren::app {

bool TakeDataDir(std::span<const std::string> args, std::size_t& i,
                 std::optional<std::filesystem::path>& dataDir) {
    constexpr std::string_view kDataDirIs = "--data-dir=";
    const std::string_view arg = args[i];
    if (arg == "--data-dir" && i + 1 < args.size()) {
        dataDir = platform::PathFromUtf8(args[++i]);
    } else if (arg.starts_with(kDataDirIs)) {
        dataDir = platform::PathFromUtf8(arg.substr(kDataDirIs.size()));
    } else {
        return false;
    }
    return true;
}

CommandArgs ParseCommandArgs(std::span<const std::string> args) {
    CommandArgs parsed;
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
        } else if (!TakeDataDir(args, i, parsed.dataDir)) {
            parsed.request = CommandArgs::Request::Invalid;
            parsed.invalid = arg;
            parsed.missingValue = arg == "--data-dir";
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
        case CommandArgs::Request::Invalid: {
            const Lang L{JapaneseLocale()};
            const std::string what =
                args.missingValue ? MissingValueText(args.invalid, L)
                                  : L("不明な引数です: ", "unknown argument: ") + args.invalid;
            std::fprintf(stderr, "%s: %s\n\n%s", StartedAs().c_str(), what.c_str(), usage);
            return 2;
        }
        case CommandArgs::Request::Run:
            break;
    }
    return std::nullopt;
}

std::optional<store::DataFolder> OpenDataFolder(const CommandArgs& args, std::string* failure) {
    std::string error;
    auto data = store::DataFolder::Resolve(args.dataDir, error);
    if (data) {
        const store::Status prepared = data->Prepare();
        if (prepared) return data;
        error = prepared.message();
    }
    std::fprintf(stderr, "%s: %s\n", StartedAs().c_str(), error.c_str());
    if (failure) *failure = error;
    return std::nullopt;
}

DataFolderLock LockDataFolder(const store::DataFolder& data) {
    DataFolderLock result;
    long holder = 0;
    std::error_code ec;
    // A command of the command line takes the lock for a moment to learn
    // whether a watcher runs; a watcher starting just then waits it out.
    // Another watcher holds it for good.
    for (int attempt = 0; attempt < 25; ++attempt) {
        result.lock = platform::LockFile(data.lockFile(), holder, ec);
        if (ec != std::errc::resource_unavailable_try_again) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ec == std::errc::resource_unavailable_try_again) {
        result.busy = "データフォルダ " + platform::PathToUtf8(data.root()) + " は別の Tavren3 " +
                      (holder > 0 ? "(プロセス " + std::to_string(holder) + ") " : "") +
                      "が使用中です。";
        std::fprintf(stderr, "%s: %s\n", StartedAs().c_str(), result.busy.c_str());
    } else if (ec) {
        // Whether another watcher holds it cannot be told: watching without
        // it might make two.
        result.busy = platform::PathToUtf8(data.lockFile()) + " をロックできません: " +
                      ec.message() + "。監視を始めません。";
        std::fprintf(stderr, "%s: %s\n", StartedAs().c_str(), result.busy.c_str());
    }
    return result;
}

}  // namespace tavren::app
