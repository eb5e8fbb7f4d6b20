#pragma once

#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

#include "app/entry_commands.h"
#include "engine/services.h"
#include "engine/tavren_doc.h"
#include "platform/signals.h"
#include "store/data_folder.h"

namespace tavren::app {

// What the tray menu's commands do; each front end's tray program fills it
// in, and its icon and menu call it.
struct TrayCommands {
    std::function<bool()> watchRunning;
    // The watch settings are open: watching is paused for them, and
    // 開始 and 停止 wait until they close.
    std::function<bool()> settingsOpen;
    std::function<void()> start;
    std::function<void()> stop;
    std::function<void()> watchSettings;
    // The history window; watching goes on while it is open.
    std::function<void()> history;
    std::function<void()> helpTopics;
    std::function<void()> about;
    std::function<void()> quit;
    // The program is ended from outside (a signal, the end of the session):
    // as 終了, but open settings close without saving and without a
    // question, since no one may be there to answer it.
    std::function<void()> end;
    // The command line changed the settings file: read it again.
    std::function<void()> reload;
    // How each entry is watched now, for the icon's tip.
    std::function<std::vector<engine::WatchStatus>()> statuses;
};

// Whether the settings are open, and whether the program is ending.
struct TrayState {
    bool settingsOpen = false;
    bool quitting = false;
    // 停止 turned watching off, which a reload must not undo; with no
    // running entry the engine is off too, and a reload starts it.
    bool stoppedFromMenu = false;
};

// The commands that drive the engine alone, the same in every tray, and
// the settings command around the front end's dialog: `runSettings` shows
// it modally; called again while it is open, `raiseSettings` brings it
// forward instead (the menu still works meanwhile). The dialog may rewrite
// the settings file, so nothing watches while it is open, the command line
// is told to leave the file alone, and the start afterwards reloads what
// is stored. A reload asked by the command line is taken unless the
// settings are open (their close reloads anyway), the program is ending,
// or 停止 turned watching off.
inline void BindEngineCommands(TrayCommands& commands, engine::CTavrenDoc& doc, TrayState& state,
                               const store::DataFolder& data, std::function<void()> runSettings,
                               std::function<void()> raiseSettings) {
    commands.watchRunning = [&doc] { return doc.watchRunning(); };
    commands.settingsOpen = [&state] { return state.settingsOpen; };
    commands.start = [&doc, &state] {
        if (state.settingsOpen) return;
        state.stoppedFromMenu = false;
        doc.StartWatching();
    };
    commands.stop = [&doc, &state] {
        if (state.settingsOpen) return;
        state.stoppedFromMenu = true;
        doc.StopWatching();
    };
    commands.statuses = [&doc] { return doc.statuses(); };
    commands.watchSettings = [&doc, &state, &data, run = std::move(runSettings),
                              raise = std::move(raiseSettings)] {
        if (state.settingsOpen) return raise();
        state.settingsOpen = true;
        doc.PauseForReload();
        {
            const SettingsOpenMark mark(data);
            run();
        }
        state.settingsOpen = false;
        if (!state.quitting) doc.StartWatching();
    };
    commands.reload = [&doc, &state] {
        if (!state.settingsOpen && !state.quitting && !state.stoppedFromMenu) doc.Reload();
    };
}

// Waits for the requests from outside (the command line's reload, a
// signal to end) on a thread of its own and hands each to `post`, which
// passes it on to the tray's own thread.
class SignalWaiter {
public:
    SignalWaiter(platform::ControlSignals& controlSignals,
                 std::function<void(platform::ControlSignal)> post)
        : thread_([&controlSignals, post = std::move(post)](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  if (const auto signal = controlSignals.WaitFor(200)) post(*signal);
              }
          }) {}

private:
    std::jthread thread_;  // asked to stop and joined first on destruction
};

}  // namespace tavren::app
