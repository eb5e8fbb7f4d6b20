#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "ui/editor_values.h"

namespace tavren::ui {

// The watch entry editor. The caller sets the public members (for a change
// of an existing entry, editMode 1 and the entry's values; for a new entry
// nothing), runs exec(), and after QDialog::Accepted reads the fourteen
// value members, those of EditorValues, back. The editor never touches the
// settings file.
//
// The upper half edits title, folder and program; the tab control below
// holds one page at a time (CFileProcDlg, CNoticeProcDlg, CAfterProcDlg),
// created when its tab is entered and read back when it is left or at OK.
//
// The dialog is named "dialog136" after its template and every control
// "<kind><id>" after its control id: "edit1014", "button1009", "check1001",
// "radio1006", "label1039", "tab1034", OK and Cancel "button1" and
// "button2"; the pages are "page134" (target files), "page135"
// (notification) and "page133" (post-processing). Group boxes and labels
// without an id carry no name.
class CSetEnvDlg : public QDialog, public EditorValues {
    Q_OBJECT

public:
    explicit CSetEnvDlg(QWidget* parent = nullptr);
    ~CSetEnvDlg() override;

    int editMode = 0;  // 0 new entry, non-zero change of an existing one
    int currentPage = 0;

    int exec() override;

private:
    // The members go to the controls the first time the dialog is shown,
    // so exec(), show() and open() all start it the same way.
    void showEvent(QShowEvent* event) override;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavren::ui
