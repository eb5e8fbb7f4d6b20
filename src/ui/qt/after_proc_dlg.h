#pragma once

#include "ui/qt/editor_page.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tavren::ui {

// The editor's post-processing page (tab 2): nothing, or move the file to
// another folder. The delete radio (1006) exists but is never shown.
class CAfterProcDlg final : public EditorPage {
    Q_OBJECT

public:
    CAfterProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle);

    void Show() override;
    QLineEdit* EditFor(rules::Field field) const override;
    QLineEdit* MoveToEdit() const { return moveToEdit_; }

private:
    rules::AfterPage& Page() const { return *rules_.afterPage(); }

    QLineEdit* moveToEdit_;
    QPushButton* browseButton_;
    QCheckBox* overwriteCheck_;
    QButtonGroup* modeGroup_;
};

}  // namespace tavren::ui
