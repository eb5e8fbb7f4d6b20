#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "store/data_folder.h"
#include "ui/qt/prompts.h"
#include "ui/rules/entry_list.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tavren::platform {
class StartSetting;
}

namespace tavren::ui {

// Runs the entry editor modally over `parent`: the values it was confirmed
// with, or nullopt when it was cancelled.
using EntryEditor = std::function<std::optional<rules::EntryValues>(
    QWidget* parent, const rules::EditorInput& input)>;

// The real editor, CSetEnvDlg.
std::optional<rules::EntryValues> RunEntryEditor(QWidget* parent, const rules::EditorInput& input);

// The watch folder list: a view of rules::EntryList.
class CDirListDlg final : public QDialog {
    Q_OBJECT

public:
    // `start` defaults to the system's start-with-the-desktop setting.
    explicit CDirListDlg(const store::DataFolder& dataFolder, QWidget* parent = nullptr,
                         EntryEditor editor = RunEntryEditor,
                         platform::StartSetting* start = nullptr);
    ~CDirListDlg() override;

    // Escape and the close box come here and take the Cancel path.
    void reject() override;

private:
    void Show();
    int SelectedLine() const;
    void OnSave();

    DialogPrompts prompts_{this};
    EntryEditor editor_;
    std::optional<rules::EntryList> rules_;

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
