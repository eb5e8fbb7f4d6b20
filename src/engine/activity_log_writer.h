#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "store/activity_log.h"

namespace tavren::platform {
class AppendFile;
class Clock;
}  // namespace tavren::platform

namespace tavren::engine {

class MessageSink;

// Appends the activity log (store/activity_log.h) for one running program.
// Nobody waits on it: Write stamps the line and queues it, and one thread
// of its own, asleep on a condition variable while the queue is empty,
// writes what is queued. A log that cannot be written (a full disk, no
// permission) is told once to `problems` and its lines are dropped; the
// next line that can be written is written, and a failure after it is told
// again. The file is rotated at `limit`
// bytes (TAVREN3_LOG_LIMIT overrides it, for tests), keeping kLogKeep old
// ones. `echo`, when set, gets every line as it is written (the headless
// runner's standard error). With an empty `file` nothing is logged at all
// (the benchmark's engine without a log).
class ActivityLog {
public:
    ActivityLog(std::filesystem::path file, platform::Clock& clock, MessageSink& problems,
                std::function<void(const store::LogRecord&, std::string_view line)> echo = nullptr,
                std::uint64_t limit = kDefaultLimit);
    // Writes what is queued, then ends the thread.
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // `entry` from 1, 0 for the program itself. Safe from every thread.
    void Write(int entry, std::string_view title, std::string_view event,
               std::string_view file = {}, std::string_view result = {});

    // Returns once every line queued so far has been written or dropped.
    void Flush();

    // While a thread holds one, the lines it writes wait in the queue
    // without waking the writer; the last hold to end wakes it. A look holds
    // one, so that on a busy machine the writer does not take the processor
    // from the look just as it starts a program.
    class Hold {
    public:
        explicit Hold(ActivityLog* log);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        ActivityLog* log_;
    };

    static constexpr std::uint64_t kDefaultLimit = 1024 * 1024;
    static constexpr int kLogKeep = 5;

private:
    void Run();
    void Wake();
    void WriteBatch(const std::vector<store::LogRecord>& batch);
    bool Append(std::string& pending);
    void Fail(const std::string& why);

    const std::filesystem::path file_;
    platform::Clock& clock_;
    MessageSink& problems_;
    const std::function<void(const store::LogRecord&, std::string_view)> echo_;
    const std::uint64_t limit_;
    // The writer thread's: the open log, and whether a failure was told.
    std::unique_ptr<platform::AppendFile> out_;
    bool told_ = false;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::vector<store::LogRecord> queue_;
    std::uint64_t queued_ = 0;   // lines handed in
    std::uint64_t written_ = 0;  // lines written or dropped
    bool ending_ = false;
    std::thread thread_;
};

// Who writes an entry's lines: its number (from 1) and title.
struct EntryLog {
    ActivityLog* log = nullptr;
    int entry = 0;
    std::string_view title;
    void operator()(std::string_view event, std::string_view file = {},
                    std::string_view result = {}) const {
        if (log) log->Write(entry, title, event, file, result);
    }
};

}  // namespace tavren::engine
