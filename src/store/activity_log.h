#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/data_folder.h"

namespace tavren::store {

// tavren3.log, the activity log in the data folder's root: one UTF-8 line
// per event, appended by every program that watches or changes this data
// folder. A line is six fields separated by tabs:
//
//   TIME  ENTRY  TITLE  EVENT  FILE  RESULT
//
// TIME is local time with its offset, to the millisecond
// (2026-12-08T14:03:05.123+09:00); ENTRY the entry's number from 1, or "-"
// for the program itself; EVENT one of the words below; FILE and RESULT may
// be empty. Every text field goes through platform::OneLine, so no field
// holds a tab or a line break and a line always splits the same way.
std::filesystem::path LogPath(const DataFolder& data);

namespace log_event {
inline constexpr std::string_view kNew = "new";              // a file found new
inline constexpr std::string_view kChanged = "changed";      // a file found changed
inline constexpr std::string_view kDeleted = "deleted";      // a file found gone
inline constexpr std::string_view kHeld = "held";            // waiting for its writer
inline constexpr std::string_view kComplete = "complete";    // its writer is done
inline constexpr std::string_view kAnnounced = "announced";  // box or line shown
inline constexpr std::string_view kSound = "sound";          // beep or WAV played
inline constexpr std::string_view kOpened = "opened";        // handed to its application
inline constexpr std::string_view kRefused = "refused";      // not opened: executable kind
inline constexpr std::string_view kStarted = "started";      // program started (RESULT: pid)
inline constexpr std::string_view kEnded = "ended";          // program ended (status, time)
inline constexpr std::string_view kMoved = "moved";          // RESULT: the full destination
inline constexpr std::string_view kNotMoved = "not-moved";   // RESULT: the system's reason
inline constexpr std::string_view kRetry = "retry";          // a move tried again
inline constexpr std::string_view kEntryStarted = "entry-started";
inline constexpr std::string_view kEntryStopped = "entry-stopped";
inline constexpr std::string_view kReloaded = "reloaded";
inline constexpr std::string_view kPolled = "polled";    // the folder is listed at an interval
inline constexpr std::string_view kWaiting = "waiting";  // its folder is missing
inline constexpr std::string_view kBack = "back";        // the folder is there again
inline constexpr std::string_view kProblem = "problem";  // a problem told to the user
inline constexpr std::string_view kCommand = "command";  // a change from the command line
}  // namespace log_event

struct LogRecord {
    std::string time;    // as written, see above
    int entry = 0;       // from 1; 0 for the program itself
    std::string title;   // the entry's title (empty for the program)
    std::string event;   // a log_event word
    std::string file;    // the file's name, or empty
    std::string result;  // free text, or empty
};

// The line for `record`, without its line break.
std::string FormatLogLine(const LogRecord& record);

// The record of one line (without its line break); nullopt for a line that
// is not six fields or whose entry is neither "-" nor a number.
std::optional<LogRecord> ParseLogLine(std::string_view line);

// The whole lines of `file` from byte `offset` on, each parsed (lines that
// do not parse are skipped); `offset` moves past the last whole line read.
// A file now shorter than `offset` was rotated and is read from its start.
// A missing file reads as empty.
std::vector<LogRecord> ReadLogFrom(const std::filesystem::path& file, std::uint64_t& offset);

}  // namespace tavren::store
