#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "store/data_folder.h"
#include "store/settings_file.h"
#include "ui/editor_values.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tavren::ui {

struct EditorInput {
    int editMode = 0;     // 0 new entry (the editor's own defaults), 1 change of `values`
    EditorValues values;  // used only for a change
};

// Runs the entry editor modally: the values it was confirmed with, or
// nullopt when it was cancelled.
using EntryEditor =
    std::function<std::optional<EditorValues>(QWidget* parent, const EditorInput& input)>;

// The real editor, CSetEnvDlg.
std::optional<EditorValues> RunEntryEditor(QWidget* parent, const EditorInput& input);

// The watch folder list. It reads every slot of the settings file into a
// working list of raw slot images when it opens; edits change only that
// list, and Save writes all of it back at once. Slots the user leaves alone
// are written back byte for byte.
class CDirListDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CDirListDlg(const store::DataFolder& dataFolder, QWidget* parent = nullptr,
                         EntryEditor editor = RunEntryEditor);
    ~CDirListDlg() override;

    // Escape and the close box come here and take the Cancel path.
    void reject() override;

private:
    void LoadEntries();
    void RebuildList();
    void SelectLine(int line);
    int SelectedLine() const;
    void ShowEntryTexts(int line);
    bool CanOpenSettingsForWriting() const;
    std::optional<EditorValues> RunEditor(const EditorInput& input);

    void OnNewClicked();
    void OnChangeClicked();
    void OnDeleteClicked();
    void OnRunStopClicked();
    void OnListSelChange();
    void OnSaveClicked();
    void OnCancelClicked();

    store::DataFolder data_;
    EntryEditor editor_;
    std::vector<store::SlotImage> entries_;  // the working list; line i is element i
    bool modified_ = false;                  // set by New, Change and Run/stop only
    int startValueAtOpen_ = 0;
    bool loadFailed_ = false;  // the file exists but could not be read

    QPushButton* runButton_ = nullptr;
    QListWidget* entryListBox_ = nullptr;
    QCheckBox* startWithDesktop_ = nullptr;
    QLabel* folderText_ = nullptr;
    QLabel* programText_ = nullptr;
};

// The settings command of the tray: shows the list modally. Returns
// QDialog::Accepted after a save, QDialog::Rejected after a cancel.
int RunWatchSettingsDialog(const store::DataFolder& data, QWidget* parent);

}  // namespace tavren::ui
