#pragma once

#include <QString>
#include <QWidget>

#include "store/settings_file.h"
#include "ui/cp932_limits.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavren::ui {

// The editor's post-processing page (tab 2): nothing, or move the file to
// another folder. The delete radio (1006) exists but is never shown, so
// afterMode 1 comes only from an entry handed in.
class CAfterProcDlg final : public QWidget {
    Q_OBJECT

public:
    explicit CAfterProcDlg(QWidget* editor);

    QString moveTo;
    int overwrite = 0;
    int afterMode = 0;  // 0 nothing, 1 delete, 2 move to `moveTo`

    void Start();

    // Controls to members; a destination over its limit (only a chooser
    // puts one there) shows its message, and the result says so, but is
    // read all the same.
    TextCheck ReadControls();
    void WriteControls();

    QLineEdit* MoveToEdit() const { return moveToEdit_; }

    // What the field stores besides its terminator: a longer destination
    // would have to be cut and then name another folder.
    static constexpr std::size_t kMoveToLimit = store::kPathMaxBytes;

private:
    void SetAfterMode(int mode);
    void ChooseDestination();

    QRadioButton* nothingRadio_;
    QRadioButton* deleteRadio_;
    QRadioButton* moveRadio_;
    QLineEdit* moveToEdit_;
    QPushButton* browseButton_;
    QCheckBox* overwriteCheck_;
    QButtonGroup* modeGroup_;
};

}  // namespace tavren::ui
