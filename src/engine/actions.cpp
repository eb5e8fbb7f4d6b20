#include "engine/actions.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "platform/file_mover.h"
#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/sound.h"
#include "platform/wake_event.h"

namespace tavren::engine {
namespace {

namespace fs = std::filesystem;

// Longest file name (one path component) the file systems we run on take.
constexpr std::size_t kMaxNameBytes = 255;

// Stamped names tried in one second before a move gives up for now.
constexpr int kMaxNameCopies = 10000;

// Length of the longest prefix of UTF-8 `s` within `maxBytes` that does not
// cut a character.
std::size_t Utf8FitLength(std::string_view s, std::size_t maxBytes) {
    if (s.size() <= maxBytes) return s.size();
    std::size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

// "exit 0, 1.234 s" or "signal 9, 0.050 s".
std::string EndText(const platform::ProcessRun& run) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %d, %lld.%03lld s", run.signal ? "signal" : "exit",
                  run.signal ? run.signal : run.exitCode,
                  static_cast<long long>(run.ran.count() / 1000),
                  static_cast<long long>(run.ran.count() % 1000));
    return text;
}

}  // namespace

void Actions::NotifyUser(std::string_view text, std::int16_t messageMode,
                         std::string_view fileName) {
    if (cancel_.IsSet()) return;
    if (entry_.beeps()) {
        log_(store::log_event::kSound, fileName, "beep");
        services_.sound.Beep(800, 100);
    } else if (entry_.playsWave()) {
        log_(store::log_event::kSound, fileName, entry_.waveFile);
        services_.sound.PlayWave(platform::PathFromUtf8(entry_.waveFile));
    }
    if (messageMode == store::message_mode::kNone || cancel_.IsSet()) return;
    std::string message(text);
    if (messageMode == store::message_mode::kRunNotice) message += kRunSuffix;
    log_(store::log_event::kAnnounced, fileName, message);
    services_.messages.ShowMessage(message, cancel_);
}

void Actions::OpenTargetFile(std::string_view fileName) {
    if (cancel_.IsSet()) return;
    const fs::path file = platform::PathFromUtf8(entry_.folder) / platform::PathFromUtf8(fileName);
    const auto result = services_.launcher.OpenDocument(file);
    if (result == platform::ProcessLauncher::OpenResult::Refused) {
        log_(store::log_event::kRefused, fileName);
        services_.messages.ReportProblem(platform::PathToUtf8(file) +
                                         std::string(kNotOpenedExecutable));
        return;  // nothing was handed over: no need to pause
    }
    const bool opened = result == platform::ProcessLauncher::OpenResult::Opened;
    log_(store::log_event::kOpened, fileName, opened ? "" : "failed");
    // Give the application a moment before the file may be moved away.
    services_.clock.Sleep(std::chrono::milliseconds(1000), cancel_);
}

void Actions::LaunchProgram(std::string_view fileName, FileEvent event,
                            const std::filesystem::path& moveTo) {
    if (entry_.program.empty() || cancel_.IsSet()) return;
    static constexpr std::string_view kEvents[] = {"new", "changed", "deleted"};
    platform::LaunchContext context;
    platform::PlaceholderValues& v = context.values.emplace();
    v.file = platform::PathToUtf8(platform::PathFromUtf8(entry_.folder) /
                                  platform::PathFromUtf8(fileName));
    v.name = fileName;
    v.folder = entry_.folder;
    const std::string values[] = {
        v.file,       v.name,
        v.folder,     std::string(kEvents[static_cast<int>(event)]),
        entry_.title, moveTo.empty() ? std::string() : platform::PathToUtf8(moveTo)};
    for (std::size_t i = 0; i < std::size(kFileVariables); ++i) {
        context.environment.emplace_back(kFileVariables[i], values[i]);
    }
    platform::ProcessRun run;
    context.run = &run;
    const bool started = entry_.waitExit != 0
                             ? services_.launcher.RunAndWait(entry_.program, cancel_, context)
                             : services_.launcher.StartProgram(entry_.program, context);
    if (!started) {
        log_(store::log_event::kStarted, fileName, "failed");
        return;
    }
    log_(store::log_event::kStarted, fileName, run.pid > 0 ? std::to_string(run.pid) : "");
    if (run.ended) log_(store::log_event::kEnded, fileName, EndText(run));
}

fs::path Actions::PlannedDestination(std::string_view fileName) {
    if (!entry_.movesFiles() || entry_.moveTo.empty()) return {};
    const fs::path folder = platform::PathFromUtf8(entry_.moveTo);
    fs::path destination = folder / platform::PathFromUtf8(fileName);
    if (entry_.overwrite != 0 || !services_.mover.Exists(destination)) return destination;
    const platform::LocalTime now = services_.clock.ToLocal(services_.clock.NowSeconds());
    for (int copy = 1; copy <= kMaxNameCopies; ++copy) {
        destination = folder / platform::PathFromUtf8(TimeStampedName(fileName, now, copy));
        if (!services_.mover.Exists(destination)) break;
    }
    return destination;
}

Actions::MoveOutcome Actions::PostProcessFile(std::string_view fileName,
                                              const std::filesystem::path& planned) {
    // An empty destination would resolve against the working folder.
    if (!entry_.movesFiles() || entry_.moveTo.empty()) return {};
    const fs::path name = platform::PathFromUtf8(fileName);
    const fs::path source = platform::PathFromUtf8(entry_.folder) / name;
    const fs::path folder = platform::PathFromUtf8(entry_.moveTo);
    fs::path destination = planned.empty() ? folder / name : planned;
    if (cancel_.IsSet()) return {MoveOutcome::Cancelled, destination, {}};
    auto move = [&](bool replace) {
        return services_.mover.Move(source, destination, replace, cancel_);
    };
    auto outcome = [&](std::error_code ec) -> MoveOutcome {
        if (!ec) return {MoveOutcome::Moved, destination, {}};
        if (ec == std::errc::operation_canceled) return {MoveOutcome::Cancelled, destination, ec};
        if (ec == std::errc::device_or_resource_busy) return {MoveOutcome::Busy, destination, ec};
        return {MoveOutcome::Failed, destination, ec};
    };
    if (entry_.overwrite != 0) return outcome(move(true));
    if (!services_.mover.Exists(destination)) {
        const std::error_code ec = move(false);
        if (ec != std::errc::file_exists) return outcome(ec);
    }
    const platform::LocalTime now = services_.clock.ToLocal(services_.clock.NowSeconds());
    std::error_code ec = std::make_error_code(std::errc::file_exists);
    for (int copy = 1; copy <= kMaxNameCopies && ec == std::errc::file_exists; ++copy) {
        destination = folder / platform::PathFromUtf8(TimeStampedName(fileName, now, copy));
        ec = move(false);
    }
    return outcome(ec);
}

std::string TimeStampedName(std::string_view fileName, const platform::LocalTime& now, int copy) {
    const std::size_t dot = fileName.find('.');
    std::string_view base = fileName.substr(0, dot);
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);

    char stamp[64];
    const auto length = static_cast<std::size_t>(
        std::snprintf(stamp, sizeof stamp, "_%02d%02d%02d%02d%02d%02d", now.year - 2000, now.month,
                      now.day, now.hour, now.minute, now.second));
    if (copy > 1) std::snprintf(stamp + length, sizeof stamp - length, "_%d", copy);
    const std::size_t fixed = std::string_view(stamp).size() + extension.size();
    if (fixed < kMaxNameBytes) base = base.substr(0, Utf8FitLength(base, kMaxNameBytes - fixed));

    std::string name(base);
    name += stamp;
    name += extension;
    return name;
}

}  // namespace tavren::engine
