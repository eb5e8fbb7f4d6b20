#include "support/fakes.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/path_text.h"
#include "platform/wake_event.h"

namespace tavren::test {

void EventLog::Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<std::string> EventLog::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> EventLog::Matching(std::string_view prefix) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_) {
        if (std::string_view(e).starts_with(prefix)) out.push_back(e);
    }
    return out;
}

void EventLog::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool EventLog::WaitFor(std::string_view prefix, std::size_t count, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Matching(prefix).size() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

platform::LocalTime FakeClock::ToLocal(std::int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds + utcOffset.load());
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void FakeClock::Sleep(std::chrono::milliseconds duration, const platform::WakeEvent& cancel) {
    if (log_) log_->Add("sleep:" + std::to_string(duration.count()));
    if (sleepForReal) cancel.WaitFor(duration);
}

void RecordingSink::ShowMessage(std::string_view text, const platform::WakeEvent&) {
    log_.Add("message:" + std::string(text));
    if (onMessage) onMessage(text);
}

void RecordingSink::ReportProblem(std::string_view text) {
    log_.Add("problem:" + std::string(text));
}

void RecordingSink::StatusChanged(const engine::WatchStatus& status) {
    static constexpr const char* kModes[] = {"notified", "polled", "waiting", "none"};
    log_.Add("status:" + std::to_string(status.slot) + ":" + kModes[static_cast<int>(status.mode)]);
}

bool FakeLauncher::RunAndWait(std::string_view commandLine, const platform::WakeEvent& stop,
                              const platform::LaunchContext& context) {
    log_.Add("run:" + std::string(commandLine));
    if (context.run) context.run->pid = kFakePid;
    if (blockUntilReleased) {
        while (!release && !stop.WaitFor(std::chrono::milliseconds(2))) {
        }
        log_.Add("run-done:" + std::string(commandLine));
    }
    if (context.run && !stop.IsSet()) context.run->ended = true;
    return true;
}

bool FakeLauncher::StartProgram(std::string_view commandLine,
                                const platform::LaunchContext& context) {
    log_.Add("start:" + std::string(commandLine));
    if (context.run) context.run->pid = kFakePid;
    return true;
}

platform::ProcessLauncher::OpenResult FakeLauncher::OpenDocument(
    const std::filesystem::path& file) {
    log_.Add("open:" + file.string());
    return OpenResult::Opened;
}

std::error_code FakeMover::Move(const std::filesystem::path& from, const std::filesystem::path& to,
                                bool replace, const platform::WakeEvent& /*cancel*/) {
    // Logged once done, so that a test woken by the entry finds the file moved.
    std::error_code ec;
    if (!replace && std::filesystem::exists(to, ec)) {
        ec = std::make_error_code(std::errc::file_exists);
    } else {
        std::filesystem::rename(from, to, ec);
    }
    log_.Add((replace ? "replace:" : "move:") + from.string() + " -> " + to.string());
    return ec;
}

bool FakeMover::Exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

MemoryFolders::Folder& MemoryFolders::operator[](const std::filesystem::path& path) {
    const auto [it, made] = folders_.try_emplace(path);
    if (made) it->second.id = {1, folders_.size()};
    return it->second;
}

std::error_code MemoryFolders::List(const std::filesystem::path& folder,
                                    std::vector<platform::DirEntry>& out) {
    out.clear();
    const auto it = folders_.find(folder);
    if (it == folders_.end()) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (it->second.listError) return it->second.listError;
    out = it->second.entries;
    return {};
}

std::error_code MemoryFolders::Stat(const std::filesystem::path& file, platform::DirEntry& out) {
    const auto missing = std::make_error_code(std::errc::no_such_file_or_directory);
    platform::DirEntry found;
    if (const auto it = folders_.find(file); it != folders_.end()) {
        if (it->second.statError) return it->second.statError;
        found.isDirectory = true;
        found.id = it->second.id;
    } else {
        const auto parent = folders_.find(file.parent_path());
        if (parent == folders_.end()) return missing;
        if (parent->second.statError) return parent->second.statError;
        const std::string name = platform::PathToUtf8(file.filename());
        const auto& entries = parent->second.entries;
        const auto e = std::find_if(entries.begin(), entries.end(),
                                    [&](const platform::DirEntry& d) { return d.name == name; });
        if (e == entries.end()) return missing;
        found = *e;
    }
    found.name = std::move(out.name);
    out = std::move(found);
    return {};
}

platform::FileId MemoryFolders::Identity(const std::filesystem::path& path) {
    platform::DirEntry found;
    return Stat(path, found) ? platform::FileId{} : found.id;
}

}  // namespace tavren::test
