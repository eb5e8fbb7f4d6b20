#include "app/run_language.h"

#include <utility>

#include "ui/rules/dialog_texts.h"
#include "ui/rules/field_limits.h"

namespace tavren::app {
namespace {

namespace text = rules::text;

constexpr std::pair<std::string_view, std::string_view> kTwins[] = {
    {text::kListFull, "the list is full: no more entries can be added."},
    {text::kOpenForWriteError, "the settings file cannot be opened for writing."},
    {text::kNoTitle, "no title given."},
    {text::kNoFolder, "no folder to watch given."},
    {text::kFolderMissing, "the folder to watch does not exist. Create it?"},
    {text::kFolderNotCreated, "the folder to watch could not be created."},
    {text::kFolderIsFile, "the folder to watch is a file: give a folder."},
    {text::kFolderBlankEnds, "the folder to watch starts or ends with a blank: remove it."},
    {text::kNoPattern, "no file name pattern given."},
    {text::kNoWave, "no WAV file given."},
    {text::kWaveMissing, "the WAV file does not exist: give an existing file."},
    {text::kWaveBlankEnds, "the WAV file starts or ends with a blank: remove it."},
    {text::kNoMoveTo, "no destination folder given."},
    {text::kMoveToMissing, "the destination folder does not exist. Create it?"},
    {text::kMoveToNotCreated, "the destination folder could not be created."},
    {text::kMoveToIsFile, "the destination folder is a file: give a folder."},
    {text::kMoveToBlankEnds, "the destination folder starts or ends with a blank: remove it."},
    {text::kBadPlaceholder,
     "in braces the program line takes only {file} (the file's path), {name} (its "
     "name) and {folder} (the watched folder); write {{ and }} for braces themselves."},
    {text::kNoCp932Form,
     "the text holds characters that cannot be stored: use only characters "
     "of Shift JIS (CP932)."},
};

}  // namespace

std::string InRunLanguage(std::string_view editorText, bool japanese) {
    if (japanese) return std::string(editorText);
    for (const auto& [ja, en] : kTwins) {
        if (ja == editorText) return std::string(en);
    }
    for (const std::size_t limit : {rules::LimitOf(rules::Field::Title).maxBytes,
                                    rules::LimitOf(rules::Field::Folder).maxBytes,
                                    rules::LimitOf(rules::Field::Program).maxBytes,
                                    rules::LimitOf(rules::Field::Pattern).maxBytes,
                                    rules::LimitOf(rules::Field::WaveFile).maxBytes,
                                    rules::LimitOf(rules::Field::MoveTo).maxBytes}) {
        if (editorText == rules::TooLongText(limit)) {
            return "the text is too long: at most " + std::to_string(limit) +
                   " bytes (half as many double-byte characters).";
        }
    }
    return std::string(editorText);
}

namespace {
std::string startedAs = "tavren3";
}  // namespace

void SetStartedAs(const char* argv0, std::string_view fallback) {
    std::string_view name = argv0 ? argv0 : "";
#ifdef _WIN32
    if (const auto slash = name.find_last_of("/\\:"); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    for (std::string_view ext : {".exe", ".com", ".EXE", ".COM"}) {
        if (name.size() > ext.size() && name.ends_with(ext)) name.remove_suffix(ext.size());
    }
#else
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
#endif
    startedAs = std::string(name.empty() ? fallback : name);
}

const std::string& StartedAs() {
    return startedAs;
}

}  // namespace tavren::app
