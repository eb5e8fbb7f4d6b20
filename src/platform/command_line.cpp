#include "platform/command_line.h"

namespace tavren::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The arguments after the program, by the C runtime's rules.
void AppendArguments(std::string_view line, std::vector<std::string>& words) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i == n) break;

        std::string word;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            if (line[i] == '\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    word.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        word += '"';
                        ++i;
                    }
                    // An even run leaves the quote to be read as a delimiter.
                } else {
                    word.append(slashes, '\\');
                }
            } else if (line[i] == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) return words;

    // The program: quotes only group, backslashes stay as they are.
    std::string word;
    bool quoted = false;
    for (; i < n && (quoted || !IsBlank(line[i])); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else {
            word += line[i];
        }
    }
    words.push_back(std::move(word));
    AppendArguments(line.substr(i), words);
    return words;
}

std::vector<std::string> SplitProgramLine(std::string_view line,
                                          const std::function<bool(const std::string&)>& isFile) {
    std::size_t start = 0;
    const std::size_t n = line.size();
    while (start < n && IsBlank(line[start])) ++start;
    std::size_t end = start;  // of the word that ends the cut
    while (end < n && !IsBlank(line[end])) ++end;
    const std::string_view first = line.substr(start, end - start);
    if (first.empty() || first.find('/') == std::string_view::npos) return SplitCommandLine(line);

    for (;;) {
        const std::string_view cut = line.substr(start, end - start);
        if (cut.find('"') != std::string_view::npos) break;
        std::string program(cut);
        if (isFile(program)) {
            std::vector<std::string> words;
            words.push_back(std::move(program));
            AppendArguments(line.substr(end), words);
            return words;
        }
        while (end < n && IsBlank(line[end])) ++end;
        if (end == n) break;
        while (end < n && !IsBlank(line[end])) ++end;
    }
    return SplitCommandLine(line);
}

}  // namespace tavren::platform
