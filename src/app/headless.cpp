#include "app/headless.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/command_args.h"
#include "engine/tavren_doc.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/output_line.h"
#include "platform/path_text.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/sound.h"

namespace tavren::app {
namespace {

// Each message box becomes one line, flushed at once: standard output is
// often a file or a pipe. Nothing waits for the user.
class LineSink final : public engine::MessageSink {
public:
    void ShowMessage(std::string_view text, const platform::WakeEvent&) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stdout, "Tavren3: %s\n", platform::OneLine(text).c_str());
        std::fflush(stdout);
    }

    // Problems are not messages: they go to standard error.
    void ReportProblem(std::string_view text) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "tavren3: %s\n", platform::OneLine(text).c_str());
        std::fflush(stderr);
    }

private:
    std::mutex mutex_;
};

void Report(const engine::CTavrenDoc& doc, const store::DataFolder& data) {
    if (!doc.lastLoadStatus())
        std::fprintf(stderr, "tavren3: %s\n",
                     platform::OneLine(doc.lastLoadStatus().message()).c_str());
    // Only entries really being watched count; each other one is named.
    const auto& notWatched = doc.notWatched();
    const int watching =
        doc.watchRunning() ? doc.loadedCount() - static_cast<int>(notWatched.size()) : 0;
    for (const engine::CTavrenDoc::NotWatched& n : notWatched) {
        const std::string line = "監視できません: " + n.title + " (" + n.folder + "): " + n.reason;
        std::fprintf(stderr, "tavren3: %s\n", platform::OneLine(line).c_str());
    }
    std::fprintf(stderr, "tavren3: %d 件の監視を開始しました (データフォルダ %s)\n", watching,
                 platform::PathToUtf8(data.root()).c_str());
}

}  // namespace

int RunHeadless(const store::DataFolder& data) {
    const DataFolderLock lock = LockDataFolder(data);
    if (!lock.busy.empty()) return 1;
    platform::ControlSignals signals;  // before any thread starts
    auto clock = platform::MakeSystemClock();
    auto changes = platform::MakeChangeWatcher();
    auto launcher = platform::MakeProcessLauncher();
    auto mover = platform::MakeFileMover();
    auto sound = platform::MakeSoundPlayer();
    LineSink sink;

    engine::CTavrenDoc doc(data, {*clock, *changes, *launcher, *mover, *sound, sink});
    Report(doc, data);
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
                Report(doc, data);
                break;
        }
    }
}

}  // namespace tavren::app
