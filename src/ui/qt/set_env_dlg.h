#pragma once

#include <QDialog>
#include <memory>

#include "ui/rules/entry_editor.h"

namespace tavren::ui {

// The watch entry editor: a view of rules::EntryEditor. The caller sets
// the rules' editMode and, for a change, their values, runs exec(), and
// after QDialog::Accepted reads the values back. The editor never touches
// the settings file.
//
// The upper half shows title, folder and program; the tab control below
// holds one page at a time (CFileProcDlg, CNoticeProcDlg, CAfterProcDlg).
//
// The dialog is named "dialog136" after its template and every control
// "<kind><id>" after its control id: "edit1014", "button1009", "check1001",
// "radio1006", "label1039", "tab1034", OK and Cancel "button1" and
// "button2"; the pages are "page134" (target files), "page135"
// (notification) and "page133" (post-processing). Group boxes and labels
// without an id carry no name.
class CSetEnvDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSetEnvDlg(QWidget* parent = nullptr);
    ~CSetEnvDlg() override;

    rules::EntryEditor& rules();
    rules::EntryValues& values() { return rules().values; }

    int exec() override;

private:
    // The values go to the controls the first time the dialog is shown, so
    // exec(), show() and open() all start it the same way.
    void showEvent(QShowEvent* event) override;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavren::ui
