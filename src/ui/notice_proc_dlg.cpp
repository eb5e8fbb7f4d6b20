#include "ui/notice_proc_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/dialog_units.h"
#include "ui/prompts.h"

namespace tavren::ui {

CNoticeProcDlg::CNoticeProcDlg(QWidget* editor) : QWidget(editor) {
    setObjectName(QStringLiteral("page135"));
    hide();
    const DialogUnits du(font());

    auto* box = new QGroupBox(QStringLiteral(" 通知 "), this);
    du.Place(box, 0, 0, 245, 80);

    messageCheck_ = new QCheckBox(QStringLiteral("メッセージを表示させる"), this);
    messageCheck_->setObjectName(QStringLiteral("check1027"));
    du.Place(messageCheck_, 10, 13, 110, 11);
    soundCheck_ = new QCheckBox(QStringLiteral("通知音を鳴らす"), this);
    soundCheck_->setObjectName(QStringLiteral("check1028"));
    du.Place(soundCheck_, 125, 13, 110, 11);
    beepRadio_ = new QRadioButton(QStringLiteral(" ビープ音を使用"), this);
    beepRadio_->setObjectName(QStringLiteral("radio1006"));
    du.Place(beepRadio_, 22, 29, 110, 11);
    waveRadio_ = new QRadioButton(QStringLiteral("ＷＡＶＥサウンドを使用"), this);
    waveRadio_->setObjectName(QStringLiteral("radio1007"));
    du.Place(waveRadio_, 22, 43, 110, 11);
    waveEdit_ = new QLineEdit(this);
    waveEdit_->setObjectName(QStringLiteral("edit1004"));
    du.Place(waveEdit_, 34, 58, 158, 12);
    SetCp932Limit(waveEdit_, kWaveLimit);
    browseButton_ = new QPushButton(QStringLiteral("参　照"), this);
    browseButton_->setObjectName(QStringLiteral("button1005"));
    browseButton_->setAutoDefault(false);
    du.Place(browseButton_, 198, 57, 40, 14);

    kindGroup_ = new QButtonGroup(this);
    kindGroup_->addButton(beepRadio_, 0);
    kindGroup_->addButton(waveRadio_, 1);

    connect(browseButton_, &QPushButton::clicked, this, &CNoticeProcDlg::ChooseWave);
    connect(beepRadio_, &QRadioButton::clicked, this, [this] { SetSoundKind(0); });
    connect(waveRadio_, &QRadioButton::clicked, this, [this] { SetSoundKind(1); });
    connect(soundCheck_, &QCheckBox::clicked, this, &CNoticeProcDlg::OnSoundClicked);

    KeepEnterAndEscapeInPage(this);
}

void CNoticeProcDlg::Start() {
    DialogUnits(font()).Place(this, 14, 167, 245, 80);
    WriteControls();
    SetRadios(kindGroup_, soundKind);
    ApplySoundRule();
    show();
}

TextCheck CNoticeProcDlg::ReadControls() {
    showMessage = messageCheck_->isChecked() ? 1 : 0;
    playSound = soundCheck_->isChecked() ? 1 : 0;
    return ReadLimitedText(waveEdit_, kWaveLimit, waveFile);
}

void CNoticeProcDlg::WriteControls() {
    messageCheck_->setChecked(showMessage != 0);
    soundCheck_->setChecked(playSound != 0);
    waveEdit_->setText(waveFile);
}

// Turning the sound off disables the radios but keeps the one selected, so
// that turning it on again brings the same choice back.
void CNoticeProcDlg::ApplySoundRule() {
    const bool on = playSound != 0;
    beepRadio_->setEnabled(on);
    waveRadio_->setEnabled(on);
    waveEdit_->setEnabled(on && soundKind == 1);
    browseButton_->setEnabled(on && soundKind == 1);
}

void CNoticeProcDlg::SetSoundKind(int kind) {
    soundKind = kind;
    waveEdit_->setEnabled(kind == 1);
    browseButton_->setEnabled(kind == 1);
}

void CNoticeProcDlg::OnSoundClicked() {
    if (ReadControls() == TextCheck::Fits) ApplySoundRule();
}

void CNoticeProcDlg::ChooseWave() {
    ReadControls();
    const auto chosen = ChooseFile(
        window(), QStringLiteral("プログラムファイル指定"),
        {QStringLiteral("プログラムファイル (*.WAV *.wav)"), QStringLiteral("全てのファイル (*)")},
        QString());
    if (!chosen) return;
    waveFile = *chosen;
    WriteControls();
}

}  // namespace tavren::ui
