#include "ui/rules/entry_paths.h"

#include <filesystem>

#include "platform/folder_ops.h"
#include "platform/fs.h"
#include "platform/path_text.h"

namespace tavren::rules {

namespace {

constexpr std::string_view kWideSpace = "\xE3\x80\x80";  // U+3000 in UTF-8

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool HasBlankEnds(std::string_view path) {
    if (path.empty()) return false;
    return IsBlank(path.front()) || IsBlank(path.back()) || path.starts_with(kWideSpace) ||
           path.ends_with(kWideSpace);
}

std::string WholePath(std::string_view path) {
    if (path.empty()) return {};
    const std::filesystem::path whole = platform::WholePath(platform::PathFromUtf8(path));
    return whole.empty() ? std::string(path) : platform::PathToUtf8(whole);
}

// The first word is read as the program is found: a quote toggles quoting
// and a blank outside quotes ends it.
std::string WholeProgramLine(std::string_view line) {
    std::size_t end = 0;
    bool quoted = false, hadQuote = false;
    std::string program;
    for (; end < line.size(); ++end) {
        if (line[end] == '"') {
            quoted = !quoted;
            hadQuote = true;
        } else if (!quoted && IsBlank(line[end])) {
            break;
        } else {
            program += line[end];
        }
    }
    if (program.empty() || platform::PathFromUtf8(program).is_absolute()) return std::string(line);
    const std::filesystem::path file = platform::PathFromUtf8(program);
    if (!platform::PathExists(file) || platform::IsFolder(file)) return std::string(line);
    std::string whole = WholePath(program);
    if (hadQuote || whole.find_first_of(" \t") != std::string::npos) whole = '"' + whole + '"';
    return whole + std::string(line.substr(end));
}

}  // namespace tavren::rules
