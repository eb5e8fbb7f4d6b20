#include "ui/qt/after_proc_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/qt/controls.h"
#include "ui/qt/cp932_limits.h"
#include "ui/qt/dialog_units.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {

namespace text = rules::text;

CAfterProcDlg::CAfterProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle)
    : EditorPage(editor, rules, std::move(settle)) {
    setObjectName(QStringLiteral("page133"));
    hide();
    const DialogUnits du(font());

    auto* box = new QGroupBox(Q(text::kAfterBox), this);
    du.Place(box, 0, 0, 245, 84);

    auto* nothingRadio = new QRadioButton(Q(text::kDoNothing), this);
    nothingRadio->setObjectName(QStringLiteral("radio1005"));
    du.Place(nothingRadio, 10, 13, 100, 11);
    auto* deleteRadio = new QRadioButton(Q(text::kDeleteFile), this);
    deleteRadio->setObjectName(QStringLiteral("radio1006"));
    du.Place(deleteRadio, 120, 13, 110, 11);
    deleteRadio->setFocusPolicy(Qt::NoFocus);
    auto* moveRadio = new QRadioButton(Q(text::kMoveFile), this);
    moveRadio->setObjectName(QStringLiteral("radio1037"));
    du.Place(moveRadio, 10, 28, 160, 11);
    moveToEdit_ = new QLineEdit(this);
    moveToEdit_->setObjectName(QStringLiteral("edit1032"));
    du.Place(moveToEdit_, 22, 44, 170, 12);
    SetCp932Limit(moveToEdit_, rules::Field::MoveTo);
    browseButton_ = new QPushButton(Q(text::kBrowse), this);
    browseButton_->setObjectName(QStringLiteral("button1038"));
    browseButton_->setAutoDefault(false);
    du.Place(browseButton_, 198, 43, 40, 14);
    overwriteCheck_ = new QCheckBox(Q(text::kOverwrite), this);
    overwriteCheck_->setObjectName(QStringLiteral("check1003"));
    du.Place(overwriteCheck_, 22, 62, 140, 11);

    modeGroup_ = new QButtonGroup(this);
    modeGroup_->addButton(nothingRadio, store::after_mode::kNothing);
    modeGroup_->addButton(deleteRadio, store::after_mode::kDelete);
    modeGroup_->addButton(moveRadio, store::after_mode::kMove);

    connect(modeGroup_, &QButtonGroup::idClicked, this, [this](int mode) {
        Page().SetAfterMode(mode);
        Show();
    });
    connect(moveToEdit_, &QLineEdit::textChanged, this,
            [this](const QString& typed) { Page().moveTo.text = U8(typed); });
    connect(overwriteCheck_, &QCheckBox::toggled, this,
            [this](bool on) { Page().overwrite = on ? 1 : 0; });
    connect(browseButton_, &QPushButton::clicked, this,
            [this] { settle_(rules_.ChooseDestination()); });

    KeepEnterAndEscapeInPage(this);
    deleteRadio->hide();  // never shown: deleting is not offered
    DialogUnits(font()).Place(this, 14, 167, 245, 84);
}

void CAfterProcDlg::Show() {
    const rules::AfterPage& page = Page();
    ShowField(moveToEdit_, page.moveTo);
    browseButton_->setEnabled(page.moveTo.enabled);
    ShowCheck(overwriteCheck_, page.overwrite);
    overwriteCheck_->setEnabled(page.moveTo.enabled);
    SetRadios(modeGroup_, page.afterMode);
}

QLineEdit* CAfterProcDlg::EditFor(rules::Field field) const {
    return field == rules::Field::MoveTo ? moveToEdit_ : nullptr;
}

}  // namespace tavren::ui
