#pragma once

#include <fstream>

#include "platform/path_text.h"
#include "store/activity_log.h"
#include "store/settings_list.h"
#include "support/temp_dir.h"

namespace tavren::test {

inline void AppendLogLine(const store::DataFolder& data, const store::LogRecord& record) {
    std::ofstream(store::LogPath(data), std::ios::app | std::ios::binary)
        << store::FormatLogLine(record) << '\n';
}

// A data folder with two entries, "in" and "scans", and two log lines: a
// file of entry 1 and a reload of the program.
inline bool WriteHistoryFixture(const TempDir& temp, const store::DataFolder& data) {
    if (!data.Prepare().ok()) return false;
    store::SettingsList settings;
    for (const char* name : {"in", "scans"}) {
        store::WatchEntry entry;
        entry.title = name;
        entry.folder = platform::PathToUtf8(temp.path() / name);
        if (!settings.Add(entry).ok()) return false;
    }
    if (!settings.Save(data.settingsFile()).ok()) return false;
    AppendLogLine(data, {"2026-12-08T14:03:05.123+09:00", 1, "in", "new", "a.txt", ""});
    AppendLogLine(data, {"2026-12-08T14:03:06.000+09:00", 0, "", "reloaded", "", ""});
    return true;
}

}  // namespace tavren::test
