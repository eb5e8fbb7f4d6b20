#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <utility>

#include "ui/qt/prompts.h"

namespace tavren::test {

// The one QApplication of the run, on the offscreen platform unless the
// environment names another. Call it before creating any widget.
inline void EnsureApp() {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "gui_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives for the whole run
}

// Records every message, question and chooser; answers from a script:
// questions take `answers` in turn, then No.
class ScriptedPrompts final : public ui::PromptBackend {
public:
    void Notice(QWidget*, const QString& text) override { notices.push_back(text); }
    bool Question(QWidget*, const QString& text) override {
        questions.push_back(text);
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
    std::optional<QString> Folder(QWidget*, const QString& title, const QString& start) override {
        choosers.push_back(title + '|' + start);
        return std::exchange(chosen, std::nullopt);
    }
    std::optional<QString> File(QWidget*, const QString& title, const QStringList& filters,
                                const QString&) override {
        choosers.push_back(title + '|' + filters.join(';'));
        return std::exchange(chosen, std::nullopt);
    }

    QStringList notices;
    QStringList questions;
    QStringList choosers;  // "title|start folder" or "title|filters"
    std::deque<bool> answers;
    std::optional<QString> chosen;  // the next chooser's answer
};

}  // namespace tavren::test
