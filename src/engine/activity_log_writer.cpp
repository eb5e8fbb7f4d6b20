#include "engine/activity_log_writer.h"

#include <charconv>
#include <system_error>
#include <utility>

#include "engine/services.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/log_file.h"
#include "platform/path_text.h"

namespace tavren::engine {
namespace {

// The holds of this thread, and whether a line it wrote meanwhile has not
// woken the writer yet.
thread_local int t_holds = 0;
thread_local bool t_held = false;

}  // namespace
namespace {

// Lines kept while the writer is behind; past that they are dropped rather
// than let a stuck disk grow the program without end.
constexpr std::size_t kMaxQueued = 200000;

std::uint64_t LimitFromEnvironment(std::uint64_t fallback) {
    const auto text = platform::GetEnv("TAVREN3_LOG_LIMIT");
    if (!text) return fallback;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    return ec == std::errc() && end == text->data() + text->size() && value > 0 ? value : fallback;
}

}  // namespace

ActivityLog::ActivityLog(std::filesystem::path file, platform::Clock& clock, MessageSink& problems,
                         std::function<void(const store::LogRecord&, std::string_view)> echo,
                         std::uint64_t limit)
    : file_(std::move(file)),
      clock_(clock),
      problems_(problems),
      echo_(std::move(echo)),
      limit_(LimitFromEnvironment(limit)) {
    if (file_.empty()) return;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread, no log: Write drops every line.
    }
}

ActivityLog::~ActivityLog() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void ActivityLog::Write(int entry, std::string_view title, std::string_view event,
                        std::string_view file, std::string_view result) {
    if (!thread_.joinable()) return;  // no log: nothing to stamp
    store::LogRecord record{clock_.TimeStamp(), entry,
                            std::string(title), std::string(event),
                            std::string(file),  std::string(result)};
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= kMaxQueued) return;
        wasEmpty = queue_.empty();
        queue_.push_back(std::move(record));
        ++queued_;
    }
    // The writer waits only on an empty queue; otherwise it comes back.
    if (!wasEmpty) return;
    if (t_holds > 0) {
        t_held = true;
    } else {
        wake_.notify_one();
    }
}

void ActivityLog::Wake() {
    std::lock_guard lock(mutex_);
    wake_.notify_one();
}

ActivityLog::Hold::Hold(ActivityLog* log) : log_(log) {
    if (log_) ++t_holds;
}

ActivityLog::Hold::~Hold() {
    if (!log_ || --t_holds > 0 || !std::exchange(t_held, false)) return;
    log_->Wake();
}

void ActivityLog::Flush() {
    if (std::exchange(t_held, false)) Wake();  // a holder's own lines are written too
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return;
    const std::uint64_t target = queued_;
    drained_.wait(lock, [&] { return written_ >= target; });
}

void ActivityLog::Run() {
    std::vector<store::LogRecord> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            written_ += batch.size();
            drained_.notify_all();
            batch.clear();
            wake_.wait(lock, [&] { return ending_ || !queue_.empty(); });
            if (queue_.empty()) return;  // ending, all written
            batch.swap(queue_);
        }
        WriteBatch(batch);
    }
}

// Lines go out together, as many as the log has room for in one write
// call: a write appends whole lines however many processes write. The file
// stays open while it is still the log; another process may have rotated it.
void ActivityLog::WriteBatch(const std::vector<store::LogRecord>& batch) {
    std::error_code ec;
    if (out_ && !out_->StillAt(file_)) out_.reset();
    if (!out_) out_ = platform::OpenForAppend(file_, ec);
    if (!out_) Fail(ec.message());
    std::string pending;
    std::uint64_t size = out_ ? out_->Size() : 0;
    for (const store::LogRecord& record : batch) {
        std::string line = store::FormatLogLine(record);
        if (echo_) echo_(record, line);  // even when the file cannot take it
        if (!out_) continue;
        line += '\n';
        if (size + pending.size() > 0 && size + pending.size() + line.size() > limit_) {
            if (!Append(pending)) continue;
            out_.reset();
            // Rotated unless another process did so meanwhile.
            const std::uint64_t full = limit_ + 1 > line.size() ? limit_ + 1 - line.size() : 1;
            ec = platform::RotateLog(file_, full, kLogKeep);
            if (!ec) out_ = platform::OpenForAppend(file_, ec);
            if (!out_) {
                Fail(ec.message());
                continue;
            }
            size = out_->Size();
        }
        pending += line;
    }
    if (out_) Append(pending);
}

// Writes `pending` and empties it; false (and the log closed) on failure.
bool ActivityLog::Append(std::string& pending) {
    if (pending.empty()) return true;
    const std::error_code ec = out_->Append(pending);
    pending.clear();
    if (!ec) {
        told_ = false;  // written again: a later failure is a new one
        return true;
    }
    out_.reset();
    Fail(ec.message());
    return false;
}

void ActivityLog::Fail(const std::string& why) {
    if (std::exchange(told_, true)) return;
    problems_.ReportProblem("活動ログ " + platform::PathToUtf8(file_) + " に書けません: " + why +
                            "。書けるようになるまでログを残しません");
}

}  // namespace tavren::engine
