#include "engine/descriptor_budget.h"

#include <algorithm>

#include "platform/descriptors.h"

namespace tavren::engine {
namespace {

std::string LimitText(std::optional<std::uint64_t> limit) {
    return "ファイル記述子の上限" + (limit ? " (" + std::to_string(*limit) + ")" : std::string());
}

}  // namespace

int WatchableEntries(std::optional<std::uint64_t> limit, int entries) {
    if (!limit) return entries;
    const std::uint64_t room = *limit > kProgramDescriptors ? *limit - kProgramDescriptors : 0;
    return static_cast<int>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(entries, 0)), room / kDescriptorsPerEntry));
}

int ApplyDescriptorBudget(std::vector<WatchStatus>& statuses, std::mutex& mutex,
                          MessageSink& sink) {
    const std::optional<std::uint64_t> limit = platform::DescriptorLimit();
    std::unique_lock lock(mutex);
    const int entries = static_cast<int>(statuses.size());
    const int watched = WatchableEntries(limit, entries);
    for (int n = watched; n < entries; ++n) {
        statuses[n].mode = WatchMode::None;
        statuses[n].reason = LimitText(limit) + " が足りません";
    }
    lock.unlock();
    if (watched < entries) {
        sink.ReportProblem(LimitText(limit) + " が足りないため、" +
                           std::to_string(entries - watched) +
                           " 件を監視できません。ulimit -n で上限を上げてください");
    }
    return watched;
}

bool IsDescriptorShortage(const std::error_code& ec) {
    return ec == std::errc::too_many_files_open || ec == std::errc::too_many_files_open_in_system;
}

std::string DescriptorShortageAdvice(const std::error_code& ec) {
    if (ec == std::errc::too_many_files_open_in_system) {
        return "システム全体のファイル記述子が足りないため、フォルダを読めないことがあります。"
               "上限は sysctl の fs.file-max で引き上げられます";
    }
    return LimitText(platform::DescriptorLimit()) +
           " に達したため、フォルダを読めないことがあります。ulimit -n で上限を上げてください";
}

}  // namespace tavren::engine
