#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "ui/rules/prompts.h"

class QWidget;

namespace tavren::ui {

// Every modal thing the dialogs ask of the user goes through here, so that
// tests can answer without a real modal loop (see SetPromptBackend).
//
// Notices and questions are captioned with the program's title, "Tavren3":
// a notice has an OK button and the warning icon, a question Yes and No
// buttons and the question icon.
void ShowNotice(QWidget* parent, const QString& text);
bool AskYesNo(QWidget* parent, const QString& text);

// A folder chooser opening on `start`; nullopt when cancelled.
std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& start);

// An open-file chooser with name filters such as "WAV ファイル (*.wav)";
// nullopt when cancelled.
std::optional<QString> ChooseFile(QWidget* parent, const QString& title, const QStringList& filters,
                                  const QString& start);

// An open-file chooser for a program: as ChooseFile, but while the first
// filter is selected only executable files (and folders) are listed.
std::optional<QString> ChooseProgramFile(QWidget* parent, const QString& title,
                                         const QStringList& filters, const QString& start);

// What the functions above call. The default shows real dialogs.
class PromptBackend {
public:
    virtual ~PromptBackend() = default;
    virtual void Notice(QWidget* parent, const QString& text) = 0;
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    virtual std::optional<QString> Folder(QWidget* parent, const QString& title,
                                          const QString& start) = 0;
    virtual std::optional<QString> File(QWidget* parent, const QString& title,
                                        const QStringList& filters, const QString& start) = 0;
    // By default the same as File().
    virtual std::optional<QString> ProgramFile(QWidget* parent, const QString& title,
                                               const QStringList& filters, const QString& start) {
        return File(parent, title, filters, start);
    }
};

// Replaces the backend (nullptr restores the real one); for tests.
void SetPromptBackend(PromptBackend* backend);

// What the dialog rules ask, shown over `parent` through the functions
// above.
class DialogPrompts final : public rules::Prompts {
public:
    explicit DialogPrompts(QWidget* parent) : parent_(parent) {}

    void Notice(std::string_view text) override;
    bool Question(std::string_view text) override;
    std::optional<std::string> ChooseFolder(std::string_view title,
                                            std::string_view start) override;
    std::optional<std::string> ChooseFile(const rules::FileChoice& choice) override;

private:
    QWidget* parent_;
};

}  // namespace tavren::ui
