#include "platform/file_mover.h"

#include <charconv>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/path_text.h"
#include "platform/process.h"

namespace tavren::platform {
namespace {

constexpr std::string_view kPrefix = kMoveTemporaryPrefix;
// Copies named without a process id (from older versions) are judged by
// age: one that no move has written to for this long has been given up.
constexpr std::int64_t kUnownedAgeSeconds = 60;

// Whether `e` is a temporary copy that no running move will finish.
bool Abandoned(const DirEntry& e, std::int64_t now) {
    if (e.isDirectory || !e.name.starts_with(kPrefix)) return false;
    const std::string_view rest = std::string_view(e.name).substr(kPrefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos) {
        return rest.size() == 6 && now - e.mtimeSeconds > kUnownedAgeSeconds;
    }
    long pid = 0;
    const char* end = rest.data() + dash;
    const auto parsed = std::from_chars(rest.data(), end, pid);
    return parsed.ec == std::errc() && parsed.ptr == end && pid > 0 && dash + 1 < rest.size() &&
           !ProcessRunning(pid);
}

}  // namespace

std::string MoveTemporaryName(long pid, std::string_view suffix) {
    return std::string(kPrefix) + std::to_string(pid) + '-' + std::string(suffix);
}

std::vector<std::filesystem::path> RemoveMoveLeftovers(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> removed;
    std::vector<DirEntry> entries;
    if (ListFolder(folder, entries)) return removed;
    const std::int64_t now = NowSeconds();
    for (const DirEntry& e : entries) {
        if (!Abandoned(e, now)) continue;
        std::filesystem::path path = folder / PathFromUtf8(e.name);
        if (!RemoveFile(path)) removed.push_back(std::move(path));
    }
    return removed;
}

}  // namespace tavren::platform
