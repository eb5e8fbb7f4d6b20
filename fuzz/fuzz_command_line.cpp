// The command-line splitter: any line splits without fault, and words
// quoted the way a Windows program quotes its arguments split back into
// the same words.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/command_line.h"

using namespace tavren;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program is read without escapes, so quotes only group it; it can
// hold no '"' of its own.
std::string QuoteProgram(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t") == std::string::npos) return word;
    return '"' + word + '"';
}

// The usual quoting for a Windows argument: backslashes are doubled only
// before a quote, and a quote inside is escaped with one more backslash.
std::string QuoteArgument(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
    std::string out = "\"";
    std::size_t slashes = 0;
    for (const char c : word) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        out += c;
        slashes = 0;
    }
    out.append(2 * slashes, '\\');
    return out + '"';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line = fuzz::AsText(data, size);
    const std::vector<std::string> words = platform::SplitCommandLine(line);

    bool allBlank = true;
    for (const char c : line) allBlank = allBlank && IsBlank(c);
    FUZZ_REQUIRE(words.empty() == allBlank);
    if (words.empty()) return 0;
    FUZZ_REQUIRE(words[0].find('"') == std::string::npos);
    std::size_t total = 0;
    for (const std::string& w : words) total += w.size();
    FUZZ_REQUIRE(total <= line.size());

    std::string joined = QuoteProgram(words[0]);
    for (std::size_t i = 1; i < words.size(); ++i) joined += ' ' + QuoteArgument(words[i]);
    FUZZ_REQUIRE(platform::SplitCommandLine(joined) == words);
    return 0;
}
