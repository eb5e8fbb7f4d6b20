// The list dialog's default editor: CSetEnvDlg, handed an entry through its
// public members and read back after OK.
#include "ui/dir_list_dlg.h"
#include "ui/set_env_dlg.h"

namespace tavren::ui {

std::optional<EditorValues> RunEntryEditor(QWidget* parent, const EditorInput& input) {
    CSetEnvDlg editor(parent);
    editor.editMode = input.editMode;
    // A new entry starts from the editor's defaults.
    if (input.editMode != 0) static_cast<EditorValues&>(editor) = input.values;
    if (editor.exec() != QDialog::Accepted) return std::nullopt;
    return static_cast<const EditorValues&>(editor);
}

}  // namespace tavren::ui
