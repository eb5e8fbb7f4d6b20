#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/services.h"
#include "platform/clock.h"
#include "store/watch_entry.h"

namespace tavren::engine {

// Told, after the file's path, when a target file of an executable kind is
// not opened.
inline constexpr std::string_view kNotOpenedExecutable =
    " は実行形式のファイルなので開きませんでした。";

// Suffix of a message box when the entry's message mode is 1.
inline constexpr std::string_view kRunSuffix = "を実行します。";

// The actions one rescan carries out for its entry. The entry is the
// rescan's own copy, so a reload of the settings can never change it
// half-way. Every failure is ignored: the remaining files still get their
// actions. Once `cancel` (program exit) is set nothing more is started and
// blocking steps end early.
class Actions {
public:
    Actions(const store::WatchEntry& entry, const Services& services,
            const platform::WakeEvent& cancel)
        : entry_(entry), services_(services), cancel_(cancel) {}

    // Sound by soundMode, then a message box by `messageMode`: none for
    // kNone, text + kRunSuffix for kRunNotice, any other value the text as
    // it is.
    void NotifyUser(std::string_view text, std::int16_t messageMode);
    void NotifyUser(std::string_view text) { NotifyUser(text, entry_.messageMode); }

    // Hands the file to its application, then pauses one second. A file of
    // an executable kind is never opened; the user is told instead.
    void OpenTargetFile(std::string_view fileName);

    // Runs `program` exactly as stored: waited for when waitExit is set,
    // otherwise started (or opened, for a document) without waiting.
    void LaunchProgram();

    // Moves the file to moveTo when the entry moves files; otherwise nothing.
    // A name taken at the destination (unless the entry replaces) gives the
    // time-stamped name, and when that is taken too, the same with "_2",
    // "_3", ... before the extension; names are never replaced, so movers in
    // several threads or processes never take one another's name.
    struct MoveOutcome {
        enum Kind {
            NotMoved,  // the entry does not move files
            Moved,
            Busy,       // the file is in use: try again later
            Failed,     // destination missing, full, read-only, name refused
            Cancelled,  // the program is ending; the file stays
        } kind = NotMoved;
        std::filesystem::path destination;  // where it went, or was to go
        std::error_code error;              // Busy, Failed
    };
    MoveOutcome PostProcessFile(std::string_view fileName);

private:
    const store::WatchEntry& entry_;
    const Services& services_;
    const platform::WakeEvent& cancel_;
};

// The name a moved file gets when its own name is taken at the destination:
// the part before the first dot, "_YYMMDDhhmmss", then the rest from the
// first dot ("report.txt" -> "report_261206150409.txt"). The part before
// the dot is shortened, on a character boundary, when the result would be
// longer than a file name may be. A `copy` above 1 adds "_<copy>" after the
// stamp, for a stamped name that is taken already.
std::string TimeStampedName(std::string_view fileName, const platform::LocalTime& now,
                            int copy = 1);

}  // namespace tavren::engine
