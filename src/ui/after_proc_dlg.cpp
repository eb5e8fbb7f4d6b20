#include "ui/after_proc_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/dialog_units.h"
#include "ui/prompts.h"

namespace tavren::ui {

CAfterProcDlg::CAfterProcDlg(QWidget* editor) : QWidget(editor) {
    setObjectName(QStringLiteral("page133"));
    hide();
    const DialogUnits du(font());

    auto* box = new QGroupBox(QStringLiteral(" 後処理 "), this);
    du.Place(box, 0, 0, 245, 84);

    nothingRadio_ = new QRadioButton(QStringLiteral("なにもしない"), this);
    nothingRadio_->setObjectName(QStringLiteral("radio1005"));
    du.Place(nothingRadio_, 10, 13, 100, 11);
    deleteRadio_ = new QRadioButton(QStringLiteral("対象ファイルを削除する"), this);
    deleteRadio_->setObjectName(QStringLiteral("radio1006"));
    du.Place(deleteRadio_, 120, 13, 110, 11);
    deleteRadio_->setFocusPolicy(Qt::NoFocus);
    moveRadio_ = new QRadioButton(QStringLiteral("対象ファイルを別のフォルダへ移動する"), this);
    moveRadio_->setObjectName(QStringLiteral("radio1037"));
    du.Place(moveRadio_, 10, 28, 160, 11);
    moveToEdit_ = new QLineEdit(this);
    moveToEdit_->setObjectName(QStringLiteral("edit1032"));
    du.Place(moveToEdit_, 22, 44, 170, 12);
    SetCp932Limit(moveToEdit_, kMoveToLimit);
    browseButton_ = new QPushButton(QStringLiteral("参　照"), this);
    browseButton_->setObjectName(QStringLiteral("button1038"));
    browseButton_->setAutoDefault(false);
    du.Place(browseButton_, 198, 43, 40, 14);
    overwriteCheck_ = new QCheckBox(QStringLiteral("移動したファイルは上書きする"), this);
    overwriteCheck_->setObjectName(QStringLiteral("check1003"));
    du.Place(overwriteCheck_, 22, 62, 140, 11);

    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(nothingRadio_, 0);
    modeGroup_->addButton(deleteRadio_, 1);
    modeGroup_->addButton(moveRadio_, 2);

    connect(nothingRadio_, &QRadioButton::clicked, this, [this] { SetAfterMode(0); });
    connect(deleteRadio_, &QRadioButton::clicked, this, [this] { SetAfterMode(1); });
    connect(moveRadio_, &QRadioButton::clicked, this, [this] { SetAfterMode(2); });
    connect(browseButton_, &QPushButton::clicked, this, &CAfterProcDlg::ChooseDestination);

    KeepEnterAndEscapeInPage(this);
    deleteRadio_->hide();  // never shown: deleting is not offered
}

void CAfterProcDlg::Start() {
    DialogUnits(font()).Place(this, 14, 167, 245, 84);
    WriteControls();
    SetRadios(modeGroup_, afterMode);
    SetAfterMode(afterMode);
    show();
}

TextCheck CAfterProcDlg::ReadControls() {
    const TextCheck check = ReadLimitedText(moveToEdit_, kMoveToLimit, moveTo);
    overwrite = overwriteCheck_->isChecked() ? 1 : 0;
    return check;
}

void CAfterProcDlg::WriteControls() {
    moveToEdit_->setText(moveTo);
    overwriteCheck_->setChecked(overwrite != 0);
}

void CAfterProcDlg::SetAfterMode(int mode) {
    afterMode = mode;
    moveToEdit_->setEnabled(mode == 2);
    browseButton_->setEnabled(mode == 2);
    overwriteCheck_->setEnabled(mode == 2);
}

void CAfterProcDlg::ChooseDestination() {
    ReadControls();
    const auto chosen =
        ChooseFolder(window(), QStringLiteral("フォルダーを選択してください"), moveTo);
    if (!chosen) return;
    moveTo = *chosen;
    WriteControls();
}

}  // namespace tavren::ui
