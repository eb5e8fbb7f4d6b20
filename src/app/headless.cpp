#include "app/headless.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <vector>

#include "app/command_args.h"
#include "engine/activity_log_writer.h"
#include "engine/system_services.h"
#include "engine/tavren_doc.h"
#include "platform/output_line.h"
#include "platform/path_text.h"
#include "platform/signals.h"

namespace tavren::app {
namespace {

// Each message box becomes one line, flushed at once: standard output is
// often a file or a pipe. Nothing waits for the user. Output that cannot be
// written (a reader that quit, a full disk) is told once; watching goes on.
class LineSink final : public engine::MessageSink {
public:
    void ShowMessage(std::string_view text, const platform::WakeEvent&) override {
        std::lock_guard lock(mutex_);
        errno = 0;
        const bool written =
            std::fprintf(stdout, "Tavren3: %s\n", platform::OneLine(text).c_str()) >= 0 &&
            std::fflush(stdout) == 0;
        if (!written && !outputFailed_) {
            outputFailed_ = true;
            WriteError("標準出力に書けません: " + std::generic_category().message(errno) +
                       "。監視は続けます");
        }
    }

    // Problems are not messages: they go to standard error.
    void ReportProblem(std::string_view text) override { Error(text); }

    // So do folders that go away and come back.
    void StatusChanged(const engine::WatchStatus& status) override {
        const std::string where = status.title + " (" + status.folder + ")";
        switch (status.mode) {
            case engine::WatchMode::Waiting:
                Error("監視を中断しました: " + where + ": " + status.reason +
                      "。フォルダが戻ると再開します");
                break;
            case engine::WatchMode::Notified:
                Error("監視を再開しました: " + where);
                break;
            case engine::WatchMode::Polled:
                Error("監視を再開しました: " + where + "。一定間隔で調べます: " + status.reason);
                break;
            case engine::WatchMode::None:
                Error("監視できません: " + where + ": " + status.reason);
                break;
        }
    }

    // An activity log line, as the log has it: a user service's journal
    // then tells what became of every file.
    void LogLine(std::string_view line) {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
        std::fflush(stderr);
    }

    // Standard error closed or gone too: nothing is told, nothing ends.
    void Error(std::string_view text) {
        std::lock_guard lock(mutex_);
        WriteError(text);
    }

private:
    void WriteError(std::string_view text) {
        std::fprintf(stderr, "tavren3: %s\n", platform::OneLine(text).c_str());
        std::fflush(stderr);
    }

    std::mutex mutex_;
    bool outputFailed_ = false;
};

void Report(const engine::CTavrenDoc& doc, const store::DataFolder& data, std::string_view program,
            LineSink& sink) {
    if (!doc.lastLoadStatus()) sink.Error(doc.lastLoadStatus().message());
    // Entries watched by notification or polling count; each other one is
    // named, and so is each polled one.
    int watching = 0;
    const std::vector<engine::WatchStatus> statuses = doc.statuses();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const engine::WatchStatus& s = statuses[i];
        const std::string where = s.title + " (" + s.folder + "): " + s.reason;
        switch (s.mode) {
            case engine::WatchMode::Notified:
                ++watching;
                break;
            case engine::WatchMode::Polled:
                ++watching;
                sink.Error("一定間隔で調べて監視します: " + where);
                break;
            case engine::WatchMode::Waiting:
                sink.Error("フォルダを待っています: " + where);
                break;
            case engine::WatchMode::None: {
                // Those left out together (a limit met) are named together.
                std::size_t end = i + 1;
                while (end < statuses.size() && statuses[end].mode == s.mode &&
                       statuses[end].reason == s.reason) {
                    ++end;
                }
                const std::string more =
                    end - i > 1 ? " ほか " + std::to_string(end - i - 1) + " 件" : "";
                sink.Error("監視できません: " + s.title + " (" + s.folder + ")" + more + ": " +
                           s.reason);
                i = end - 1;
                break;
            }
        }
    }
    if (!doc.watchRunning()) watching = 0;
    sink.Error(std::to_string(watching) + " 件の監視を開始しました (データフォルダ " +
               platform::PathToUtf8(data.root()) + ")");
    // A first start on a machine without a desktop: say how to go on.
    if (doc.lastLoadStatus() && doc.loadedCount() <= 0) {
        sink.Error("実行中の監視項目がありません。項目は「" + std::string(program) +
                   " add」で追加できます (説明: " + std::string(program) + " add --help)");
    }
}

}  // namespace

int RunHeadless(const store::DataFolder& data, std::string_view program) {
    const DataFolderLock lock = LockDataFolder(data);
    if (!lock.busy.empty()) return 1;
    platform::ControlSignals signals;  // before any thread starts
    const engine::SystemServices system;
    LineSink sink;
    engine::Services services = system.services(sink);
    // Problems are on standard error already, as the sink tells them.
    engine::ActivityLog log(store::LogPath(data), services.clock, sink,
                            [&sink](const store::LogRecord& record, std::string_view line) {
                                if (record.event != store::log_event::kProblem) sink.LogLine(line);
                            });
    services.log = &log;

    engine::CTavrenDoc doc(data, services);
    Report(doc, data, program, sink);
    for (;;) {
        switch (signals.Wait()) {
            case platform::ControlSignal::Interrupt:
            case platform::ControlSignal::Terminate:
                // A worker in the middle of a sound cannot be cut short; it
                // is not worth keeping the user waiting for.
                if (!doc.Shutdown(std::chrono::milliseconds(1000))) {
                    std::fflush(nullptr);
                    std::_Exit(0);
                }
                return 0;
            case platform::ControlSignal::Reload:
                doc.Reload();
                Report(doc, data, program, sink);
                break;
        }
    }
}

}  // namespace tavren::app
