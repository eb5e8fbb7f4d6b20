#pragma once

#include <QString>
#include <QWidget>

#include "store/settings_file.h"
#include "ui/cp932_limits.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tavren::ui {

// The editor's target-files page (tab 0): which files count and when to
// react. The editor sets the members, calls Start() and later reads the
// page back with ReadControls(). Controls are named as in CSetEnvDlg.
class CFileProcDlg final : public QWidget {
    Q_OBJECT

public:
    explicit CFileProcDlg(QWidget* editor);

    QString pattern;
    int fileMode = 0;  // 0 every file, 1 the files matching `pattern`
    int timing = 1;    // 0 files updated, 1 created, renamed or deleted

    // Places the page over the editor's tab control, shows the members and
    // sets the radios and the enabling from them.
    void Start();

    // Controls to members; a pattern over its limit or with no CP932 form
    // shows its message and the result says so, but is read all the same.
    TextCheck ReadControls();
    void WriteControls();

    QLineEdit* PatternEdit() const { return patternEdit_; }

    static constexpr std::size_t kPatternLimit = store::kPatternMaxBytes;

private:
    void SetFileMode(int mode);

    QButtonGroup* fileModeGroup_;
    QButtonGroup* timingGroup_;
    QRadioButton* allFilesRadio_;
    QRadioButton* patternRadio_;
    QLineEdit* patternEdit_;
    QLabel* wildcardLabel_;
    QRadioButton* namesRadio_;
    QRadioButton* updatesRadio_;
};

}  // namespace tavren::ui
