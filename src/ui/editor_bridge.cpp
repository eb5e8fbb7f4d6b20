// The list dialog's default editor: CSetEnvDlg, handed an entry through its
// public members and read back after OK.
#include "ui/dir_list_dlg.h"
#include "ui/set_env_dlg.h"

namespace tavren::ui {

std::optional<EditorValues> RunEntryEditor(QWidget* parent, const EditorInput& input) {
    CSetEnvDlg editor(parent);
    editor.editMode = input.editMode;
    if (input.editMode != 0) {  // a new entry starts from the editor's defaults
        const EditorValues& v = input.values;
        editor.title = v.title;
        editor.folder = v.folder;
        editor.program = v.program;
        editor.openFile = v.openFile;
        editor.waitExit = v.waitExit;
        editor.fileMode = v.fileMode;
        editor.timing = v.timing;
        editor.afterMode = v.afterMode;
        editor.messageMode = v.messageMode;
        editor.soundMode = v.soundMode;
        editor.overwrite = v.overwrite;
        editor.pattern = v.pattern;
        editor.moveTo = v.moveTo;
        editor.waveFile = v.waveFile;
    }
    if (editor.exec() != QDialog::Accepted) return std::nullopt;
    EditorValues out;
    out.title = editor.title;
    out.folder = editor.folder;
    out.program = editor.program;
    out.openFile = editor.openFile;
    out.waitExit = editor.waitExit;
    out.fileMode = editor.fileMode;
    out.timing = editor.timing;
    out.afterMode = editor.afterMode;
    out.messageMode = editor.messageMode;
    out.soundMode = editor.soundMode;
    out.overwrite = editor.overwrite;
    out.pattern = editor.pattern;
    out.moveTo = editor.moveTo;
    out.waveFile = editor.waveFile;
    return out;
}

}  // namespace tavren::ui
