#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/activity_log_writer.h"
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

// What happened to the file a program is started for.
enum class FileEvent { New, Changed, Deleted };

// The actions one rescan carries out for its entry. The entry is the
// rescan's own copy, so a reload of the settings can never change it
// half-way. Every failure is ignored: the remaining files still get their
// actions. Once `cancel` (program exit) is set nothing more is started and
// blocking steps end early.
class Actions {
public:
    // `number`: the entry's number in the settings list, for the activity log.
    Actions(const store::WatchEntry& entry, const Services& services,
            const platform::WakeEvent& cancel, int number = 0)
        : entry_(entry),
          services_(services),
          cancel_(cancel),
          log_{services.log, number, entry.title} {}

    // Sound by soundMode, then a message box by `messageMode`: none for
    // kNone, text + kRunSuffix for kRunNotice, any other value the text as
    // it is. `fileName` is what the log names.
    void NotifyUser(std::string_view text, std::int16_t messageMode,
                    std::string_view fileName = {});
    void NotifyUser(std::string_view text) { NotifyUser(text, entry_.messageMode); }

    // Hands the file to its application, then pauses one second. A file of
    // an executable kind is never opened; the user is told instead.
    void OpenTargetFile(std::string_view fileName);

    // Runs `program` for the file `fileName` in the watched folder: waited
    // for when waitExit is set, otherwise started (or opened, for a
    // document) without waiting. A line valid with placeholders gets them
    // replaced (platform::ScanPlaceholders); any other runs as stored. The
    // program's environment tells it the file (kFileVariables), `moveTo`
    // included: where the file is to go, empty when it stays.
    void LaunchProgram(std::string_view fileName, FileEvent event,
                       const std::filesystem::path& moveTo = {});

    // Where PostProcessFile would move the file now: its own name in
    // moveTo, or when that is taken (and the entry does not replace), the
    // first free time-stamped name. Empty when the entry does not move files.
    std::filesystem::path PlannedDestination(std::string_view fileName);

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
    // A `planned` destination (from PlannedDestination) is tried first; when
    // it has been taken meanwhile the rules above go on from there.
    MoveOutcome PostProcessFile(std::string_view fileName,
                                const std::filesystem::path& planned = {});

private:
    const store::WatchEntry& entry_;
    const Services& services_;
    const platform::WakeEvent& cancel_;
    const EntryLog log_;
};

// The variables a started program finds in its environment: the file's
// full path (for a deleted file, the one it had), its bare name, the
// watched folder, "new", "changed" or "deleted", the entry's title, and
// where the file will be moved (empty when it stays).
inline constexpr std::string_view kFileVariables[] = {"TAVREN3_FILE",   "TAVREN3_NAME",
                                                      "TAVREN3_FOLDER", "TAVREN3_EVENT",
                                                      "TAVREN3_ENTRY",  "TAVREN3_MOVE_TO"};

// The name a moved file gets when its own name is taken at the destination:
// the part before the first dot, "_YYMMDDhhmmss", then the rest from the
// first dot ("report.txt" -> "report_261206150409.txt"). The part before
// the dot is shortened, on a character boundary, when the result would be
// longer than a file name may be. A `copy` above 1 adds "_<copy>" after the
// stamp, for a stamped name that is taken already.
std::string TimeStampedName(std::string_view fileName, const platform::LocalTime& now,
                            int copy = 1);

}  // namespace tavren::engine
