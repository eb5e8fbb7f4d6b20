#pragma once

#include <optional>
#include <string_view>

#include "ui/rules/editor_pages.h"
#include "ui/rules/entry_values.h"
#include "ui/rules/field_limits.h"
#include "ui/rules/prompts.h"

namespace tavren::rules {

// What a command of a dialog came to: whether it went through (for OK:
// whether the dialog closes), and which field takes the focus after a
// refusal or a message about it (None: leave the focus where it is).
struct Outcome {
    bool ok = true;
    Field focus = Field::None;
};

// The upper half of the editor as its controls show it.
struct EditorControls {
    TextField title;
    TextField folder;
    TextField program;
    int openFile = 0;
    int waitExit = 0;
    bool waitEnabled = true;
};

// The watch entry editor. The caller sets editMode and, for a change, the
// values, then calls Start(); after an Ok() that went through, `values`
// hold the entry. The editor never touches the settings file; it may create
// the watched folder and the move destination.
//
// The front end keeps `controls` and the shown page's fields in step with
// what the user types and ticks, calls the command of each button, and
// shows the state again after each command.
class EntryEditor {
public:
    explicit EntryEditor(Prompts& prompts) : prompts_(prompts) {}

    int editMode = 0;  // 0 new entry, non-zero change of an existing one
    EntryValues values;
    EditorControls controls;

    std::string_view Caption() const;
    int currentPage() const { return currentPage_; }
    // The page of the current tab; the other two do not exist.
    FilePage* filePage() { return filePage_ ? &*filePage_ : nullptr; }
    NoticePage* noticePage() { return noticePage_ ? &*noticePage_ : nullptr; }
    AfterPage* afterPage() { return afterPage_ ? &*afterPage_ : nullptr; }

    // Shows the values, sets the program options' enabling, selects tab 0.
    void Start();

    // The user chose tab `tab`. A refusal keeps the current page, whose tab
    // the front end selects again.
    Outcome SwitchTo(int tab);
    // The page's checks, then the title's, then the folder's; the paths in
    // use are then made whole (absolute against the working folder).
    Outcome Ok();

    // The open-file check was clicked (controls.openFile holds its state).
    Outcome OpenFileClicked();
    // The program text changed, typed or set by the dialog.
    void ProgramChanged();
    Outcome ChooseFolder();
    Outcome ChooseProgram();

    // The notification page's sound check was clicked.
    Outcome SoundClicked();
    Outcome ChooseWave();
    Outcome ChooseDestination();

private:
    Outcome ReadText(Field field, const TextField& text);
    Outcome ReadControls();
    void WriteControls();
    void CreatePage(int tab);
    Outcome ReadBackPage();
    Outcome ReadBackAfterPage();
    Outcome CheckWave();
    Outcome MakeWhole();
    // Passes when `path` names something, or the user has it created.
    Outcome CheckFolder(const std::string& path, Field field, std::string_view missing,
                        std::string_view notCreated, std::string_view isFile);

    Prompts& prompts_;
    int currentPage_ = 0;
    std::optional<FilePage> filePage_;
    std::optional<NoticePage> noticePage_;
    std::optional<AfterPage> afterPage_;
};

// The choosers' type lists: programs, and WAV sounds.
FileChoice ProgramChoice();
FileChoice WaveChoice();

}  // namespace tavren::rules
