#include "platform/command_line.h"

#include <algorithm>
#include <iterator>

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

// Where each word of SplitCommandLine's reading stands in `line`, quotes
// and backslashes included.
std::vector<std::string_view> RawWords(std::string_view line) {
    std::vector<std::string_view> words;
    const std::size_t n = line.size();
    std::size_t i = 0;
    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i == n) break;
        const bool program = words.empty();
        const std::size_t start = i;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            if (!program && line[i] == '\\') {
                std::size_t slashes = 0;
                for (; i < n && line[i] == '\\'; ++i) ++slashes;
                if (i < n && line[i] == '"' && slashes % 2 == 1) ++i;  // an escaped quote
            } else if (line[i] == '"') {
                if (!program && quoted && i + 1 < n && line[i + 1] == '"') {
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                ++i;
            }
        }
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

constexpr std::string_view kPlaceholderNames[] = {"{file}", "{name}", "{folder}"};

}  // namespace

Placeholders ScanPlaceholders(std::string_view line) {
    Placeholders found = Placeholders::None;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '{' && line[i] != '}') continue;
        found = Placeholders::Valid;
        if (i + 1 < line.size() && line[i + 1] == line[i]) {
            ++i;  // a doubled brace
            continue;
        }
        const std::string_view rest = line.substr(i);
        const auto known = [&](std::string_view p) { return rest.starts_with(p); };
        if (line[i] == '}' || std::ranges::none_of(kPlaceholderNames, known)) {
            return Placeholders::Invalid;
        }
        i = line.find('}', i);
    }
    return found;
}

std::string ExpandPlaceholders(std::string_view text, const PlaceholderValues& values) {
    const std::string* const replacements[] = {&values.file, &values.name, &values.folder};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' || c == '}') {
            if (i + 1 < text.size() && text[i + 1] == c) {
                out += c;
                ++i;
                continue;
            }
            for (std::size_t k = 0; k < std::size(kPlaceholderNames); ++k) {
                if (text.substr(i).starts_with(kPlaceholderNames[k])) {
                    out += *replacements[k];
                    i += kPlaceholderNames[k].size() - 1;
                    break;
                }
            }
            continue;
        }
        out += c;
    }
    return out;
}

std::string QuoteArgument(std::string_view argument) {
    std::string out = "\"";
    std::size_t slashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    // Before the closing quote they are doubled too.
    out.append(slashes * 2, '\\');
    out += '"';
    return out;
}

std::string ExpandQuotedLine(std::string_view line, const PlaceholderValues& values) {
    if (ScanPlaceholders(line) != Placeholders::Valid) return std::string(line);
    std::string out;
    std::size_t done = 0;
    bool program = true;
    for (const std::string_view raw : RawWords(line)) {
        const auto start = static_cast<std::size_t>(raw.data() - line.data());
        out += line.substr(done, start - done);
        done = start + raw.size();
        if (raw.find_first_of("{}") == std::string_view::npos) {
            out += raw;
        } else if (program) {
            // The program word knows no escapes; a file name holds no quote.
            out += '"' + ExpandPlaceholders(SplitCommandLine(raw)[0], values) + '"';
        } else {
            std::vector<std::string> word;
            AppendArguments(raw, word);
            out += QuoteArgument(ExpandPlaceholders(word.at(0), values));
        }
        program = false;
    }
    out += line.substr(done);
    return out;
}

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

std::vector<std::string> SplitProgramLine(std::string_view line,
                                          const std::function<bool(const std::string&)>& isFile,
                                          const PlaceholderValues& values) {
    if (ScanPlaceholders(line) != Placeholders::Valid) return SplitProgramLine(line, isFile);
    std::vector<std::string> words = SplitProgramLine(
        line, [&](const std::string& cut) { return isFile(ExpandPlaceholders(cut, values)); });
    for (std::string& word : words) word = ExpandPlaceholders(word, values);
    return words;
}

}  // namespace tavren::platform
