#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/rules/prompts.h"

namespace tavren::test {

// Answers the dialog rules' prompts from a script and records them:
// questions take `answers` in turn, then No; a chooser takes `chosen` once.
class ScriptedPrompts final : public rules::Prompts {
public:
    void Notice(std::string_view text) override { notices.emplace_back(text); }
    bool Question(std::string_view text) override {
        questions.emplace_back(text);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    std::optional<std::string> ChooseFolder(std::string_view title,
                                            std::string_view start) override {
        choosers.push_back(std::string(title) + '|' + std::string(start));
        return std::exchange(chosen, std::nullopt);
    }
    std::optional<std::string> ChooseFile(const rules::FileChoice& choice) override {
        std::string line = choice.title;
        for (const rules::FileFilter& f : choice.filters) line += '|' + f.patterns;
        choosers.push_back(line);
        return std::exchange(chosen, std::nullopt);
    }

    std::vector<std::string> notices;
    std::vector<std::string> questions;
    std::vector<std::string> choosers;
    std::deque<bool> answers;
    std::optional<std::string> chosen;
};

}  // namespace tavren::test
