#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/activity_log.h"
#include "store/data_folder.h"

namespace tavren::rules {

// The Japanese label of a log_event word; an unknown word as it is.
std::string_view EventLabel(std::string_view event);

// A log line's time as the history shows it: "2026/12/08 14:03:05".
std::string HistoryTime(std::string_view logTime);

// The entry column: "3 タイトル", or "-" for the program itself.
std::string HistoryEntry(const store::LogRecord& record);

// The history window's rows, from the activity log of one data folder: the
// newest `kMaxRows` records, read on from where the last read ended, and
// the entries seen in them for the filter. Both trays' windows show it.
class History {
public:
    static constexpr std::size_t kMaxRows = 5000;

    explicit History(const store::DataFolder& data) : data_(data), log_(store::LogPath(data)) {}

    // Reads the lines added since the last call (the whole log the first
    // time); returns the new records, oldest first. Older records beyond
    // kMaxRows are dropped.
    std::vector<store::LogRecord> ReadNew();

    // Every record kept, oldest first.
    const std::deque<store::LogRecord>& records() const { return records_; }

    // The entries seen so far, in the filter's order (by number): their
    // HistoryEntry texts, the program itself ("-") not among them.
    const std::vector<std::pair<int, std::string>>& entries() const { return entries_; }

    // The folder entry `entry` (from 1) watches, from the settings file as
    // stored now; nullopt when there is no such entry.
    std::optional<std::filesystem::path> EntryFolder(int entry) const;

private:
    const store::DataFolder& data_;
    std::filesystem::path log_;
    std::uint64_t offset_ = 0;
    std::deque<store::LogRecord> records_;
    std::vector<std::pair<int, std::string>> entries_;
};

}  // namespace tavren::rules
