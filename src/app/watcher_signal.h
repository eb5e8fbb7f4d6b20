#pragma once

#include <filesystem>
#include <optional>

#include "app/usage.h"
#include "store/data_folder.h"

namespace tavren::app {

// Present while a tray program has the watch settings open on `data`: it
// will write the settings file itself when they close, so a change from the
// command line meanwhile would be lost. Holds that program's process id.
std::filesystem::path SettingsOpenMarker(const store::DataFolder& data);

// Puts the marker in place for as long as it lives; a tray program holds
// one while its watch settings are open.
class SettingsOpenMark {
public:
    explicit SettingsOpenMark(const store::DataFolder& data);
    ~SettingsOpenMark();
    SettingsOpenMark(const SettingsOpenMark&) = delete;
    SettingsOpenMark& operator=(const SettingsOpenMark&) = delete;

private:
    std::filesystem::path file_;
    bool made_ = false;
};

// The running watcher of a data folder: whoever holds its lock.
struct Watcher {
    bool running = false;
    long pid = 0;  // 0: running, but its process id could not be read
};
Watcher FindWatcher(const store::DataFolder& data);

// The process that has the watch settings open on `data`, if any.
std::optional<long> SettingsOpenBy(const store::DataFolder& data);

// Asks the running watcher of `data` to read the settings again, and says
// on standard output what came of it.
void TellWatcher(const store::DataFolder& data, Lang L);

}  // namespace tavren::app
