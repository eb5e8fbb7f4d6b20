#pragma once

#include "ui/qt/editor_page.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tavren::ui {

// The editor's target-files page (tab 0): which files count and when to
// react. Controls are named after their ids, as in CSetEnvDlg.
class CFileProcDlg final : public EditorPage {
    Q_OBJECT

public:
    CFileProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle);

    void Show() override;
    QLineEdit* EditFor(rules::Field field) const override;
    QLineEdit* PatternEdit() const { return patternEdit_; }

private:
    rules::FilePage& Page() const { return *rules_.filePage(); }

    QButtonGroup* fileModeGroup_;
    QButtonGroup* timingGroup_;
    QLineEdit* patternEdit_;
    QLabel* wildcardLabel_;
};

}  // namespace tavren::ui
