#include "support/fakes.h"

#include <time.h>

#include <chrono>
#include <thread>

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
    const time_t t = static_cast<time_t>(seconds);
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
    log_.Add("status:" + std::to_string(status.slot) + ":" +
             kModes[static_cast<int>(status.mode)]);
}

bool FakeLauncher::RunAndWait(std::string_view commandLine, const platform::WakeEvent& stop) {
    log_.Add("run:" + std::string(commandLine));
    if (blockUntilReleased) {
        while (!release && !stop.WaitFor(std::chrono::milliseconds(2))) {
        }
        log_.Add("run-done:" + std::string(commandLine));
    }
    return true;
}

bool FakeLauncher::StartProgram(std::string_view commandLine) {
    log_.Add("start:" + std::string(commandLine));
    return true;
}

platform::ProcessLauncher::OpenResult FakeLauncher::OpenDocument(const std::filesystem::path& file) {
    log_.Add("open:" + file.string());
    return OpenResult::Opened;
}

std::error_code FakeMover::Move(const std::filesystem::path& from, const std::filesystem::path& to,
                                bool replace) {
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

}  // namespace tavren::test
