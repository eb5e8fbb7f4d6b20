#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

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
    struct MoveOutcome {
        enum Kind { NotMoved, Moved, Busy, Failed } kind = NotMoved;
        std::filesystem::path destination;  // when moved
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
// longer than a file name may be.
std::string TimeStampedName(std::string_view fileName, const platform::LocalTime& now);

}  // namespace tavren::engine
