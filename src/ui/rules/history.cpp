#include "ui/rules/history.h"

#include <algorithm>
#include <utility>

#include "platform/path_text.h"
#include "store/settings_list.h"

namespace tavren::rules {

std::string_view EventLabel(std::string_view event) {
    namespace e = store::log_event;
    static constexpr std::pair<std::string_view, std::string_view> kLabels[] = {
        {e::kNew, "新規"},
        {e::kChanged, "更新"},
        {e::kDeleted, "削除"},
        {e::kHeld, "書き込み待ち"},
        {e::kComplete, "書き込み完了"},
        {e::kAnnounced, "通知"},
        {e::kSound, "通知音"},
        {e::kOpened, "ファイルを開いた"},
        {e::kRefused, "開かない (実行形式)"},
        {e::kStarted, "プログラム起動"},
        {e::kEnded, "プログラム終了"},
        {e::kMoved, "移動"},
        {e::kNotMoved, "移動できない"},
        {e::kRetry, "移動の再試行"},
        {e::kEntryStarted, "監視開始"},
        {e::kEntryStopped, "監視停止"},
        {e::kReloaded, "設定の読み直し"},
        {e::kPolled, "定期確認"},
        {e::kWaiting, "フォルダ待ち"},
        {e::kBack, "フォルダ復帰"},
        {e::kProblem, "問題"},
        {e::kCommand, "コマンド"},
    };
    for (const auto& [word, label] : kLabels) {
        if (word == event) return label;
    }
    return event;
}

std::string HistoryTime(std::string_view logTime) {
    // 2026-12-08T14:03:05.123+09:00: the date and the time to the second,
    // in the writer's local time. Anything else is shown as it stands.
    if (logTime.size() < 19 || logTime[4] != '-' || logTime[7] != '-' || logTime[10] != 'T')
        return std::string(logTime);
    std::string shown(logTime.substr(0, 19));
    shown[4] = shown[7] = '/';
    shown[10] = ' ';
    return shown;
}

std::string HistoryEntry(const store::LogRecord& record) {
    if (record.entry <= 0) return "-";
    std::string text = std::to_string(record.entry);
    if (!record.title.empty()) text += ' ' + record.title;
    return text;
}

std::vector<store::LogRecord> History::ReadNew() {
    std::vector<store::LogRecord> added = store::ReadLogFrom(log_, offset_);
    // A first read of a long log keeps only its end.
    if (added.size() > kMaxRows)
        added.erase(added.begin(), added.end() - static_cast<std::ptrdiff_t>(kMaxRows));
    for (const store::LogRecord& record : added) {
        records_.push_back(record);
        if (records_.size() > kMaxRows) records_.pop_front();
        if (record.entry <= 0) continue;
        // An entry renamed since shows under its latest title.
        const auto at = std::lower_bound(
            entries_.begin(), entries_.end(), record.entry,
            [](const std::pair<int, std::string>& e, int n) { return e.first < n; });
        if (at != entries_.end() && at->first == record.entry) {
            at->second = HistoryEntry(record);
        } else {
            entries_.emplace(at, record.entry, HistoryEntry(record));
        }
    }
    return added;
}

std::optional<std::filesystem::path> History::EntryFolder(int entry) const {
    store::SettingsList list;
    if (entry <= 0 || !list.Load(data_.settingsFile()).ok()) return std::nullopt;
    const auto i = static_cast<std::size_t>(entry - 1);
    if (i >= list.size()) return std::nullopt;
    return platform::PathFromUtf8(list.entry(i).folder);
}

}  // namespace tavren::rules
