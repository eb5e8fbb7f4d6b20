#include "store/activity_log.h"

#include <charconv>

#include "platform/fs.h"
#include "platform/output_line.h"

namespace tavren::store {

std::filesystem::path LogPath(const DataFolder& data) {
    return data.root() / "tavren3.log";
}

std::string FormatLogLine(const LogRecord& r) {
    std::string line = platform::OneLine(r.time);
    line += '\t';
    line += r.entry > 0 ? std::to_string(r.entry) : "-";
    for (const std::string* field : {&r.title, &r.event, &r.file, &r.result}) {
        line += '\t';
        line += platform::OneLine(*field);
    }
    return line;
}

std::optional<LogRecord> ParseLogLine(std::string_view line) {
    std::string_view fields[6];
    for (int i = 0; i < 6; ++i) {
        const std::size_t tab = line.find('\t');
        if ((tab == std::string_view::npos) != (i == 5)) return std::nullopt;
        fields[i] = line.substr(0, tab);
        if (tab != std::string_view::npos) line.remove_prefix(tab + 1);
    }
    LogRecord r;
    if (fields[1] != "-") {
        const char* end = fields[1].data() + fields[1].size();
        const auto [ptr, ec] = std::from_chars(fields[1].data(), end, r.entry);
        if (ec != std::errc() || ptr != end || r.entry < 1) return std::nullopt;
    }
    r.time = fields[0];
    r.title = fields[2];
    r.event = fields[3];
    r.file = fields[4];
    r.result = fields[5];
    return r;
}

std::vector<LogRecord> ReadLogFrom(const std::filesystem::path& file, std::uint64_t& offset) {
    std::vector<LogRecord> records;
    // Followers ask often and mostly find nothing new: the size tells them
    // without reading the file.
    platform::DirEntry now;
    if (platform::StatFile(file, now) || now.size == offset) return records;
    std::string bytes;
    if (platform::ReadFile(file, bytes)) return records;
    if (bytes.size() < offset) offset = 0;
    std::string_view rest = std::string_view(bytes).substr(offset);
    for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;) {
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (auto record = ParseLogLine(line)) records.push_back(std::move(*record));
        rest.remove_prefix(end + 1);
        offset += end + 1;
    }
    return records;
}

}  // namespace tavren::store
