#include "app/watcher_signal.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "platform/folder_lock.h"
#include "platform/fs.h"
#include "platform/reload_request.h"

namespace tavren::app {

namespace fs = std::filesystem;

fs::path SettingsOpenMarker(const store::DataFolder& data) {
    return data.root() / "tavren3.settings-open";
}

// Without the marker (a read-only data folder) the settings still open: a
// command-line change then races them, as it would have anyway.
SettingsOpenMark::SettingsOpenMark(const store::DataFolder& data)
    : file_(SettingsOpenMarker(data)),
      made_(!platform::WriteFileAtomically(file_,
                                           std::to_string(platform::CurrentProcessId()) + '\n')) {}

SettingsOpenMark::~SettingsOpenMark() {
    if (made_) platform::RemoveFile(file_);
}

// Whoever holds the lock watches with this folder. Taking the lock for a
// moment is the test; it is let go at once.
Watcher FindWatcher(const store::DataFolder& data) {
    long holder = 0;
    std::error_code ec;
    const auto lock = platform::LockFile(data.lockFile(), holder, ec);
    if (ec == std::errc::resource_unavailable_try_again) return {true, holder};
    return {};
}

// The tray program's settings, open on this folder, will write the whole
// file when they close. A marker left by a program that has ended does not
// count: its lock has gone with it.
std::optional<long> SettingsOpenBy(const store::DataFolder& data) {
    std::string text;
    if (platform::ReadFile(SettingsOpenMarker(data), text, 32)) return std::nullopt;
    long pid = 0;
    std::from_chars(text.data(), text.data() + text.size(), pid);
    const Watcher w = FindWatcher(data);
    if (!w.running || (w.pid != 0 && pid != 0 && w.pid != pid)) return std::nullopt;
    return w.pid != 0 ? w.pid : pid;
}

void TellWatcher(const store::DataFolder& data, Lang L) {
    const Watcher w = FindWatcher(data);
    if (!w.running) {
        std::printf(
            "%s\n",
            L("このデータフォルダで実行中の Tavren3 はありません。変更は次の起動から使われます。",
              "No Tavren3 is running on this data folder: the change takes effect when it starts.")
                .c_str());
        return;
    }
    const std::string who = L("実行中の Tavren3 (プロセス ", "the running Tavren3 (process ") +
                            (w.pid ? std::to_string(w.pid) : "?") + ")";
    switch (w.pid ? platform::AskToReload(w.pid) : platform::ReloadRequest::Failed) {
        case platform::ReloadRequest::Sent:
            std::printf("%s\n", (L("", "Told ") + who +
                                 L(" に設定の読み直しを伝えました。", " to reload the settings."))
                                    .c_str());
            break;
        case platform::ReloadRequest::Unsupported:
        case platform::ReloadRequest::Failed:
            std::printf(
                "%s\n",
                (L("", "Could not tell ") + who +
                 L(" に読み直しを伝えられません。変更を使うには Tavren3 を再起動してください。",
                   " to reload: restart Tavren3 to use the change."))
                    .c_str());
            break;
    }
}

}  // namespace tavren::app
