#pragma once

#include <functional>
#include <vector>

#include "engine/services.h"
#include "engine/tavren_doc.h"

namespace tavren::app {

// What the tray menu's commands do; each front end's tray program fills it
// in, and its icon and menu call it.
struct TrayCommands {
    std::function<bool()> watchRunning;
    std::function<void()> start;
    std::function<void()> stop;
    std::function<void()> watchSettings;
    std::function<void()> helpTopics;
    std::function<void()> about;
    std::function<void()> quit;
    // How each entry is watched now, for the icon's tip.
    std::function<std::vector<engine::WatchStatus>()> statuses;
};

// Whether the settings are open, and whether the program is ending.
struct TrayState {
    bool settingsOpen = false;
    bool quitting = false;
};

// The commands that drive the engine alone, the same in every tray, and
// the settings command around the front end's dialog: `runSettings` shows
// it modally; called again while it is open, `raiseSettings` brings it
// forward instead (the menu still works meanwhile). The dialog may rewrite
// the settings file, so nothing watches while it is open, and the start
// afterwards reloads what is stored.
inline void BindEngineCommands(TrayCommands& commands, engine::CTavrenDoc& doc, TrayState& state,
                               std::function<void()> runSettings,
                               std::function<void()> raiseSettings) {
    commands.watchRunning = [&doc] { return doc.watchRunning(); };
    commands.start = [&doc] { doc.StartWatching(); };
    commands.stop = [&doc] { doc.StopWatching(); };
    commands.statuses = [&doc] { return doc.statuses(); };
    commands.watchSettings = [&doc, &state, run = std::move(runSettings),
                              raise = std::move(raiseSettings)] {
        if (state.settingsOpen) return raise();
        state.settingsOpen = true;
        doc.PauseForReload();
        run();
        state.settingsOpen = false;
        if (!state.quitting) doc.StartWatching();
    };
}

}  // namespace tavren::app
