// The list dialog's default editor: CSetEnvDlg, handed an entry through its
// rules and read back after OK.
#include "ui/qt/dir_list_dlg.h"
#include "ui/qt/set_env_dlg.h"

namespace tavren::ui {

std::optional<rules::EntryValues> RunEntryEditor(QWidget* parent, const rules::EditorInput& input) {
    CSetEnvDlg editor(parent);
    editor.rules().editMode = input.editMode;
    // A new entry starts from the editor's defaults.
    if (input.editMode != 0) editor.values() = input.values;
    if (editor.exec() != QDialog::Accepted) return std::nullopt;
    return editor.values();
}

}  // namespace tavren::ui
