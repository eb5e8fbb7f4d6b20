#include "ui/qt/notice_proc_dlg.h"

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

CNoticeProcDlg::CNoticeProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle)
    : EditorPage(editor, rules, std::move(settle)) {
    setObjectName(QStringLiteral("page135"));
    hide();
    const DialogUnits du(font());

    auto* box = new QGroupBox(Q(text::kNoticeBox), this);
    du.Place(box, 0, 0, 245, 80);

    messageCheck_ = new QCheckBox(Q(text::kShowMessage), this);
    messageCheck_->setObjectName(QStringLiteral("check1027"));
    du.Place(messageCheck_, 10, 13, 110, 11);
    soundCheck_ = new QCheckBox(Q(text::kPlaySound), this);
    soundCheck_->setObjectName(QStringLiteral("check1028"));
    du.Place(soundCheck_, 125, 13, 110, 11);
    beepRadio_ = new QRadioButton(Q(text::kBeep), this);
    beepRadio_->setObjectName(QStringLiteral("radio1006"));
    du.Place(beepRadio_, 22, 29, 110, 11);
    waveRadio_ = new QRadioButton(Q(text::kWave), this);
    waveRadio_->setObjectName(QStringLiteral("radio1007"));
    du.Place(waveRadio_, 22, 43, 110, 11);
    waveEdit_ = new QLineEdit(this);
    waveEdit_->setObjectName(QStringLiteral("edit1004"));
    du.Place(waveEdit_, 34, 58, 158, 12);
    SetCp932Limit(waveEdit_, rules::Field::WaveFile);
    browseButton_ = new QPushButton(Q(text::kBrowse), this);
    browseButton_->setObjectName(QStringLiteral("button1005"));
    browseButton_->setAutoDefault(false);
    du.Place(browseButton_, 198, 57, 40, 14);

    kindGroup_ = new QButtonGroup(this);
    kindGroup_->addButton(beepRadio_, rules::NoticePage::kBeepKind);
    kindGroup_->addButton(waveRadio_, rules::NoticePage::kWaveKind);

    connect(messageCheck_, &QCheckBox::toggled, this,
            [this](bool on) { Page().showMessage = on ? 1 : 0; });
    connect(soundCheck_, &QCheckBox::clicked, this, [this](bool on) {
        Page().playSound = on ? 1 : 0;
        settle_(rules_.SoundClicked());
    });
    connect(kindGroup_, &QButtonGroup::idClicked, this, [this](int kind) {
        Page().SetSoundKind(kind);
        Show();
    });
    connect(waveEdit_, &QLineEdit::textChanged, this,
            [this](const QString& typed) { Page().waveFile.text = U8(typed); });
    connect(browseButton_, &QPushButton::clicked, this, [this] { settle_(rules_.ChooseWave()); });

    KeepEnterAndEscapeInPage(this);
    DialogUnits(font()).Place(this, 14, 167, 245, 80);
}

void CNoticeProcDlg::Show() {
    const rules::NoticePage& page = Page();
    ShowCheck(messageCheck_, page.showMessage);
    ShowCheck(soundCheck_, page.playSound);
    ShowField(waveEdit_, page.waveFile);
    browseButton_->setEnabled(page.waveFile.enabled);
    SetRadios(kindGroup_, page.soundKind);
    beepRadio_->setEnabled(page.kindsEnabled);
    waveRadio_->setEnabled(page.kindsEnabled);
}

QLineEdit* CNoticeProcDlg::EditFor(rules::Field field) const {
    return field == rules::Field::WaveFile ? waveEdit_ : nullptr;
}

}  // namespace tavren::ui
