#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavren::rules {

// One entry of a file chooser's type list: the text shown, and the name
// patterns it stands for, separated by ';' ("*.WAV;*.wav").
struct FileFilter {
    std::string text;
    std::string patterns;
};

struct FileChoice {
    std::string title;
    std::vector<FileFilter> filters;
    // While the first filter is selected, only files the user may run are
    // offered (programs carry no extension to filter on everywhere).
    bool programsFirst = false;
};

// A question as a box shows it. A box wraps Japanese text between any two
// characters, and would split its closing 「はい／いいえ」: that choice opens
// a line of its own. The texts themselves stay as they are stored.
inline std::string QuestionAsShown(std::string_view text) {
    constexpr std::string_view kChoice = "「はい／いいえ」";
    const std::size_t at = text.find(kChoice);
    if (at == std::string_view::npos || at == 0 || text[at - 1] == '\n') return std::string(text);
    return std::string(text.substr(0, at)) + '\n' + std::string(text.substr(at));
}

// Everything modal the settings dialogs ask of the user. Each front end
// shows these its own way; tests answer them from a script. Notices have an
// OK button, questions Yes and No; all are captioned text::kBoxCaption.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void Notice(std::string_view text) = 0;
    virtual bool Question(std::string_view text) = 0;
    // The chosen path, or nullopt when the user cancelled.
    virtual std::optional<std::string> ChooseFolder(std::string_view title,
                                                    std::string_view start) = 0;
    virtual std::optional<std::string> ChooseFile(const FileChoice& choice) = 0;
};

}  // namespace tavren::rules
