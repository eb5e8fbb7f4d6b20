#include "app/status_tip.h"

#include <cstddef>

namespace tavren::app {

std::string StatusTip(bool running, const std::vector<engine::WatchStatus>& statuses) {
    std::string tip = "フォルダ監視";
    if (statuses.empty()) return tip;
    if (!running) return tip + "\n停止中";
    std::size_t watching = 0;
    std::vector<std::string> others;
    for (const engine::WatchStatus& s : statuses) {
        switch (s.mode) {
            case engine::WatchMode::Notified:
                ++watching;
                break;
            case engine::WatchMode::Polled:
                ++watching;
                others.push_back("一定間隔で監視: " + s.title);
                break;
            case engine::WatchMode::Waiting:
                others.push_back("フォルダ待ち: " + s.title + " (" + s.reason + ")");
                break;
            case engine::WatchMode::None:
                others.push_back("監視できません: " + s.title);
                break;
        }
    }
    tip.append("\n").append(std::to_string(watching)).append(" / ");
    tip.append(std::to_string(statuses.size())).append(" 件を監視中");
    // Tips are short on most desktops: the first few, then a count.
    constexpr std::size_t kShown = 5;
    for (std::size_t i = 0; i < others.size() && i < kShown; ++i) tip += "\n" + others[i];
    if (others.size() > kShown) {
        tip.append("\nほか ").append(std::to_string(others.size() - kShown)).append(" 件");
    }
    return tip;
}

}  // namespace tavren::app
