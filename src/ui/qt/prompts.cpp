#include "ui/qt/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "ui/qt/file_chooser.h"
#include "ui/qt/program_file_dialog.h"
#include "ui/qt/qt_text.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {
namespace {

const QString kCaption = Q(rules::text::kBoxCaption);

class RealPrompts final : public PromptBackend {
public:
    void Notice(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, kCaption, text, QMessageBox::Ok, parent);
        box.exec();
    }

    bool Question(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Question, kCaption, Q(rules::QuestionAsShown(U8(text))),
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

    std::optional<QString> Folder(QWidget* parent, const QString& title,
                                  const QString& start) override {
        QFileDialog dialog(parent, title, start);
        PrepareChooser(dialog);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        return Run(dialog);
    }

    std::optional<QString> File(QWidget* parent, const QString& title, const QStringList& filters,
                                const QString& start) override {
        QFileDialog dialog(parent, title, start);
        PrepareChooser(dialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(filters);
        return Run(dialog);
    }

    std::optional<QString> ProgramFile(QWidget* parent, const QString& title,
                                       const QStringList& filters, const QString& start) override {
        return RunProgramFileDialog(parent, title, filters, start);
    }

private:
    static std::optional<QString> Run(QFileDialog& dialog) {
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QString chosen = dialog.selectedFiles().value(0);
        if (chosen.isEmpty()) return std::nullopt;
        return chosen;
    }
};

RealPrompts g_real;
PromptBackend* g_backend = &g_real;

}  // namespace

void SetPromptBackend(PromptBackend* backend) {
    g_backend = backend ? backend : &g_real;
}

void ShowNotice(QWidget* parent, const QString& text) {
    g_backend->Notice(parent, text);
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return g_backend->Question(parent, text);
}

std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& start) {
    return g_backend->Folder(parent, title, start);
}

std::optional<QString> ChooseFile(QWidget* parent, const QString& title, const QStringList& filters,
                                  const QString& start) {
    return g_backend->File(parent, title, filters, start);
}

std::optional<QString> ChooseProgramFile(QWidget* parent, const QString& title,
                                         const QStringList& filters, const QString& start) {
    return g_backend->ProgramFile(parent, title, filters, start);
}

void DialogPrompts::Notice(std::string_view text) {
    ShowNotice(parent_, Q(text));
}

bool DialogPrompts::Question(std::string_view text) {
    return AskYesNo(parent_, Q(text));
}

std::optional<std::string> DialogPrompts::ChooseFolder(std::string_view title,
                                                       std::string_view start) {
    const auto chosen = tavren::ui::ChooseFolder(parent_, Q(title), Q(start));
    if (!chosen) return std::nullopt;
    return U8(*chosen);
}

// Qt takes the patterns from the texts, "(*.WAV *.wav)".
std::optional<std::string> DialogPrompts::ChooseFile(const rules::FileChoice& choice) {
    QStringList filters;
    for (const rules::FileFilter& filter : choice.filters) filters << Q(filter.text);
    const auto chosen = choice.programsFirst
                            ? ChooseProgramFile(parent_, Q(choice.title), filters, QString())
                            : tavren::ui::ChooseFile(parent_, Q(choice.title), filters, QString());
    if (!chosen) return std::nullopt;
    return U8(*chosen);
}

}  // namespace tavren::ui
