#include "ui/rules/entry_editor.h"

#include "platform/command_line.h"
#include "platform/folder_ops.h"
#include "platform/fs.h"
#include "platform/path_text.h"
#include "ui/rules/dialog_texts.h"
#include "ui/rules/entry_paths.h"

namespace tavren::rules {

FileChoice ProgramChoice() {
#ifdef _WIN32
    return {std::string(text::kChooseProgram),
            {{"プログラムファイル (*.EXE)", "*.EXE"}, {"全てのファイル (*.*)", "*.*"}},
            true};
#else
    // Programs carry no extension here: the program entry lists every name
    // and the chooser offers only the files the user may run.
    return {std::string(text::kChooseProgram),
            {{"プログラムファイル (*)", "*"}, {"全てのファイル (*)", "*"}},
            true};
#endif
}

FileChoice WaveChoice() {
#ifdef _WIN32
    return {std::string(text::kChooseProgram),
            {{"プログラムファイル (*.WAV)", "*.WAV"}, {"全てのファイル (*.*)", "*.*"}},
            false};
#else
    return {std::string(text::kChooseProgram),
            {{"プログラムファイル (*.WAV *.wav)", "*.WAV;*.wav"}, {"全てのファイル (*)", "*"}},
            false};
#endif
}

std::string_view EntryEditor::Caption() const {
    return editMode != 0 ? text::kEditorCaptionChange : text::kEditorCaptionNew;
}

void EntryEditor::Start() {
    WriteControls();
    if (values.program.empty()) controls.waitEnabled = false;
    if (values.openFile != 0) {
        controls.program.enabled = false;
        controls.waitEnabled = false;
    }
    currentPage_ = 0;
    CreatePage(0);
}

// A disabled field's text is not in use and cannot be mended by the user:
// it is taken as it is. An enabled one that cannot be stored whole (over
// its limit, which only a chooser's path can be, or without a CP932 form)
// is refused: cut to its field it would name another file.
Outcome EntryEditor::ReadText(Field field, const TextField& text) {
    if (!text.enabled) return {};
    const FieldLimit limit = LimitOf(field);
    const TextCheck check = CheckText(text.text, limit);
    if (check != TextCheck::Fits) {
        prompts_.Notice(RefusalText(check, limit));
        return {false, field};
    }
    // A brace that is no placeholder would run literally: refused here, so
    // that only lines stored before placeholders existed do.
    if (field == Field::Program &&
        platform::ScanPlaceholders(text.text) == platform::Placeholders::Invalid) {
        prompts_.Notice(text::kBadPlaceholder);
        return {false, field};
    }
    return {};
}

// Every field is read even after a refusal, so that nothing typed is lost
// when a chooser then shows the values again; the first refusal counts.
Outcome EntryEditor::ReadControls() {
    Outcome outcome;
    const struct {
        Field field;
        const TextField& control;
        std::string& member;
    } fields[] = {{Field::Title, controls.title, values.title},
                  {Field::Folder, controls.folder, values.folder},
                  {Field::Program, controls.program, values.program}};
    for (const auto& f : fields) {
        if (outcome.ok) outcome = ReadText(f.field, f.control);
        f.member = f.control.text;
    }
    values.openFile = controls.openFile != 0 ? 1 : 0;
    values.waitExit = controls.waitExit != 0 ? 1 : 0;
    return outcome;
}

void EntryEditor::WriteControls() {
    const bool programChanged = controls.program.text != values.program;
    controls.title.text = values.title;
    controls.folder.text = values.folder;
    controls.program.text = values.program;
    controls.openFile = values.openFile;
    controls.waitExit = values.waitExit;
    if (programChanged) ProgramChanged();
}

// Any change of the program enables the wait check, unless the open-file
// option has it off; emptying the program again does not disable it.
void EntryEditor::ProgramChanged() {
    if (values.openFile == 0) controls.waitEnabled = true;
}

void EntryEditor::CreatePage(int tab) {
    if (tab == 0 && !filePage_) filePage_ = FilePage::From(values);
    if (tab == 1 && !noticePage_) noticePage_ = NoticePage::From(values);
    if (tab == 2 && !afterPage_) afterPage_ = AfterPage::From(values);
}

Outcome EntryEditor::ReadBackPage() {
    switch (currentPage_) {
        case 0: {
            if (!filePage_) return {};
            if (Outcome o = ReadText(Field::Pattern, filePage_->pattern); !o.ok) return o;
            values.pattern = filePage_->pattern.text;
            values.fileMode = filePage_->fileMode;
            values.timing = filePage_->timing;
            if (values.fileMode == store::file_mode::kMatching && values.pattern.empty()) {
                prompts_.Notice(text::kNoPattern);
                return {false, Field::Pattern};
            }
            return {};
        }
        case 1: {
            if (!noticePage_) return {};
            if (Outcome o = ReadText(Field::WaveFile, noticePage_->waveFile); !o.ok) return o;
            values.messageMode = noticePage_->messageMode();
            values.soundMode = noticePage_->soundMode();
            values.waveFile = noticePage_->waveFile.text;
            return CheckWave();
        }
        case 2:
            return ReadBackAfterPage();
        default:
            return {};
    }
}

// A sound that could never play is refused where it is chosen: without a
// file, or with one that is not there.
Outcome EntryEditor::CheckWave() {
    if (values.soundMode != store::sound_mode::kWave) return {};
    const std::filesystem::path file = platform::PathFromUtf8(values.waveFile);
    const std::string_view refusal = values.waveFile.empty()         ? text::kNoWave
                                     : HasBlankEnds(values.waveFile) ? text::kWaveBlankEnds
                                     : !platform::PathExists(file) || platform::IsFolder(file)
                                         ? text::kWaveMissing
                                         : std::string_view();
    if (refusal.empty()) return {};
    prompts_.Notice(refusal);
    return {false, Field::WaveFile};
}

Outcome EntryEditor::ReadBackAfterPage() {
    if (!afterPage_) return {};
    if (Outcome o = ReadText(Field::MoveTo, afterPage_->moveTo); !o.ok) return o;
    values.afterMode = afterPage_->afterMode;
    values.moveTo = afterPage_->moveTo.text;
    values.overwrite = afterPage_->overwrite != 0 ? 1 : 0;
    if (values.afterMode != store::after_mode::kMove) return {};
    if (values.moveTo.empty()) {
        prompts_.Notice(text::kNoMoveTo);
        return {false, Field::MoveTo};
    }
    if (HasBlankEnds(values.moveTo)) {
        prompts_.Notice(text::kMoveToBlankEnds);
        return {false, Field::MoveTo};
    }
    return CheckFolder(values.moveTo, Field::MoveTo, text::kMoveToMissing, text::kMoveToNotCreated,
                       text::kMoveToIsFile);
}

// A file of that name is refused: it would be watched, or moved into, as a
// folder that is not there. Creating makes one level only, and what it made
// stays even when a later check fails.
Outcome EntryEditor::CheckFolder(const std::string& path, Field field, std::string_view missing,
                                 std::string_view notCreated, std::string_view isFile) {
    const std::filesystem::path where = platform::PathFromUtf8(path);
    if (platform::PathExists(where)) {
        if (platform::IsFolder(where)) return {};
        prompts_.Notice(isFile);
        return {false, field};
    }
    if (!prompts_.Question(missing)) return {false, field};
    if (platform::CreateFolder(where)) {
        prompts_.Notice(notCreated);
        return {false, Field::None};
    }
    return {};
}

Outcome EntryEditor::SwitchTo(int tab) {
    if (Outcome o = ReadControls(); !o.ok) return o;
    if (tab < 0 || tab > 2 || tab == currentPage_) return {};
    if (Outcome o = ReadBackPage(); !o.ok) return o;
    CreatePage(tab);
    if (tab != 0) filePage_.reset();
    if (tab != 1) noticePage_.reset();
    if (tab != 2) afterPage_.reset();
    currentPage_ = tab;
    return {};
}

Outcome EntryEditor::Ok() {
    if (Outcome o = ReadControls(); !o.ok) return o;
    if (Outcome o = ReadBackPage(); !o.ok) return o;
    if (values.title.empty()) {
        prompts_.Notice(text::kNoTitle);
        return {false, Field::Title};
    }
    if (values.folder.empty()) {
        prompts_.Notice(text::kNoFolder);
        return {false, Field::Folder};
    }
    if (HasBlankEnds(values.folder)) {
        prompts_.Notice(text::kFolderBlankEnds);
        return {false, Field::Folder};
    }
    if (Outcome o = MakeWhole(); !o.ok) return o;
    return CheckFolder(values.folder, Field::Folder, text::kFolderMissing, text::kFolderNotCreated,
                       text::kFolderIsFile);
}

// The paths in use are stored whole, as the choosers give them: a relative
// one would only hold while the working folder stays the same. Made whole,
// a path may no longer fit its field. A path with blanks at its ends is
// refused on its own page, and left alone where that page was not shown.
Outcome EntryEditor::MakeWhole() {
    const struct {
        Field field;
        std::string& path;
        bool inUse;
    } paths[] = {
        {Field::Folder, values.folder, true},
        {Field::Program, values.program, values.openFile == 0},
        {Field::WaveFile, values.waveFile, values.soundMode == store::sound_mode::kWave},
        {Field::MoveTo, values.moveTo, values.afterMode == store::after_mode::kMove},
    };
    for (const auto& p : paths) {
        const bool program = p.field == Field::Program;
        if (!p.inUse || (!program && HasBlankEnds(p.path))) continue;
        std::string whole = program ? WholeProgramLine(p.path) : WholePath(p.path);
        if (whole == p.path) continue;
        p.path = std::move(whole);
        if (!ReadText(p.field, {p.path, true}).ok) return {false, p.field};
    }
    return {};
}

// Disabling keeps the values: the program and the wait option come back
// as they are.
Outcome EntryEditor::OpenFileClicked() {
    if (Outcome o = ReadControls(); !o.ok) return o;
    const bool open = values.openFile != 0;
    controls.program.enabled = !open;
    controls.waitEnabled = !open;
    WriteControls();
    return {};
}

Outcome EntryEditor::ChooseFolder() {
    const Outcome read = ReadControls();
    if (auto chosen = prompts_.ChooseFolder(text::kChooseFolder, values.folder)) {
        values.folder = std::move(*chosen);
        WriteControls();
    }
    return read;
}

Outcome EntryEditor::ChooseProgram() {
    const Outcome read = ReadControls();
    if (auto chosen = prompts_.ChooseFile(ProgramChoice())) {
        values.program = std::move(*chosen);
        WriteControls();
    }
    return read;
}

Outcome EntryEditor::SoundClicked() {
    if (!noticePage_) return {};
    const Outcome read = ReadText(Field::WaveFile, noticePage_->waveFile);
    if (read.ok) noticePage_->ApplySoundRule();
    return read;
}

Outcome EntryEditor::ChooseWave() {
    if (!noticePage_) return {};
    const Outcome read = ReadText(Field::WaveFile, noticePage_->waveFile);
    if (auto chosen = prompts_.ChooseFile(WaveChoice())) noticePage_->waveFile.text = *chosen;
    return read;
}

Outcome EntryEditor::ChooseDestination() {
    if (!afterPage_) return {};
    const Outcome read = ReadText(Field::MoveTo, afterPage_->moveTo);
    if (auto chosen = prompts_.ChooseFolder(text::kChooseFolder, afterPage_->moveTo.text)) {
        afterPage_->moveTo.text = *chosen;
    }
    return read;
}

}  // namespace tavren::rules
