#include "ui/file_proc_dlg.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/dialog_units.h"

namespace tavren::ui {
namespace {

// A radio whose text is shown on two lines, broken after its first
// `firstLine` characters, for the narrow timing group. text() stays the
// option's whole text, and a click anywhere on the control selects it.
class TwoLineRadio final : public QRadioButton {
public:
    TwoLineRadio(const QString& text, qsizetype firstLine, QWidget* parent)
        : QRadioButton(text, parent), firstLine_(firstLine) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text = option.text.left(firstLine_) + u'\n' + option.text.mid(firstLine_);
        painter.drawControl(QStyle::CE_RadioButton, option);
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    qsizetype firstLine_;
};

}  // namespace

CFileProcDlg::CFileProcDlg(QWidget* editor) : QWidget(editor) {
    setObjectName(QStringLiteral("page134"));
    hide();
    const DialogUnits du(font());

    // Group boxes first, so that the controls they frame lie above them.
    auto* targetBox = new QGroupBox(QStringLiteral(" 対象ファイル "), this);
    du.Place(targetBox, 0, 0, 152, 84);
    auto* timingBox = new QGroupBox(QStringLiteral(" 実行のタイミング"), this);
    du.Place(timingBox, 155, 0, 90, 84);

    allFilesRadio_ = new QRadioButton(QStringLiteral("作成や削除、更新されたファイル"), this);
    allFilesRadio_->setObjectName(QStringLiteral("radio1024"));
    du.Place(allFilesRadio_, 8, 12, 142, 11);
    patternRadio_ = new QRadioButton(QStringLiteral("下のボックスで入力されたファイル"), this);
    patternRadio_->setObjectName(QStringLiteral("radio1025"));
    du.Place(patternRadio_, 8, 26, 142, 11);
    patternEdit_ = new QLineEdit(this);
    patternEdit_->setObjectName(QStringLiteral("edit1026"));
    du.Place(patternEdit_, 20, 40, 124, 12);
    SetCp932Limit(patternEdit_, kPatternLimit);
    wildcardLabel_ = new QLabel(QStringLiteral("「abc*.*」などのワイルドカード可能"), this);
    wildcardLabel_->setObjectName(QStringLiteral("label1039"));
    du.Place(wildcardLabel_, 8, 60, 142, 10);

    // The timing group is narrow: its radios take two lines.
    namesRadio_ = new TwoLineRadio(QStringLiteral("ファイルの作成、名前の変更"), 8, this);
    namesRadio_->setObjectName(QStringLiteral("radio1036"));
    du.Place(namesRadio_, 161, 12, 82, 20);
    auto* namesMore = new QLabel(QStringLiteral("削除が発生した場合"), this);
    du.Place(namesMore, 171, 32, 73, 10);
    updatesRadio_ = new TwoLineRadio(QStringLiteral("ファイルが更新された場合"), 5, this);
    updatesRadio_->setObjectName(QStringLiteral("radio1035"));
    du.Place(updatesRadio_, 161, 50, 82, 20);

    fileModeGroup_ = new QButtonGroup(this);
    fileModeGroup_->addButton(allFilesRadio_, 0);
    fileModeGroup_->addButton(patternRadio_, 1);
    timingGroup_ = new QButtonGroup(this);
    timingGroup_->addButton(updatesRadio_, 0);
    timingGroup_->addButton(namesRadio_, 1);

    connect(allFilesRadio_, &QRadioButton::clicked, this, [this] { SetFileMode(0); });
    connect(patternRadio_, &QRadioButton::clicked, this, [this] { SetFileMode(1); });
    connect(updatesRadio_, &QRadioButton::clicked, this, [this] { timing = 0; });
    connect(namesRadio_, &QRadioButton::clicked, this, [this] { timing = 1; });

    KeepEnterAndEscapeInPage(this);
}

void CFileProcDlg::Start() {
    DialogUnits(font()).Place(this, 14, 167, 245, 84);
    WriteControls();
    SetRadios(fileModeGroup_, fileMode);
    SetRadios(timingGroup_, timing);
    SetFileMode(fileMode);
    show();
}

TextCheck CFileProcDlg::ReadControls() {
    return ReadLimitedText(patternEdit_, kPatternLimit, pattern);
}

void CFileProcDlg::WriteControls() {
    patternEdit_->setText(pattern);
}

void CFileProcDlg::SetFileMode(int mode) {
    fileMode = mode;
    patternEdit_->setEnabled(mode == 1);
    wildcardLabel_->setEnabled(mode == 1);
}

}  // namespace tavren::ui
