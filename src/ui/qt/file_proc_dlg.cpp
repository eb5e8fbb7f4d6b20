#include "ui/qt/file_proc_dlg.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/qt/controls.h"
#include "ui/qt/cp932_limits.h"
#include "ui/qt/dialog_units.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::ui {
namespace {

namespace text = rules::text;

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

CFileProcDlg::CFileProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle)
    : EditorPage(editor, rules, std::move(settle)) {
    setObjectName(QStringLiteral("page134"));
    hide();
    const DialogUnits du(font());

    // Group boxes first, so that the controls they frame lie above them.
    auto* targetBox = new QGroupBox(Q(text::kTargetBox), this);
    du.Place(targetBox, 0, 0, 152, 84);
    auto* timingBox = new QGroupBox(Q(text::kTimingBox), this);
    du.Place(timingBox, 155, 0, 90, 84);

    auto* allFilesRadio = new QRadioButton(Q(text::kAllFiles), this);
    allFilesRadio->setObjectName(QStringLiteral("radio1024"));
    du.Place(allFilesRadio, 8, 12, 142, 11);
    auto* patternRadio = new QRadioButton(Q(text::kPatternFiles), this);
    patternRadio->setObjectName(QStringLiteral("radio1025"));
    du.Place(patternRadio, 8, 26, 142, 11);
    patternEdit_ = new QLineEdit(this);
    patternEdit_->setObjectName(QStringLiteral("edit1026"));
    du.Place(patternEdit_, 20, 40, 124, 12);
    SetCp932Limit(patternEdit_, rules::Field::Pattern);
    wildcardLabel_ = new QLabel(Q(text::kWildcardHint), this);
    wildcardLabel_->setObjectName(QStringLiteral("label1039"));
    du.Place(wildcardLabel_, 8, 60, 142, 10);

    // The timing group is narrow: its radios take two lines.
    auto* namesRadio = new TwoLineRadio(Q(text::kOnNames), 8, this);
    namesRadio->setObjectName(QStringLiteral("radio1036"));
    du.Place(namesRadio, 161, 12, 82, 20);
    auto* namesMore = new QLabel(Q(text::kOnNamesMore), this);
    du.Place(namesMore, 171, 32, 73, 10);
    auto* updatesRadio = new TwoLineRadio(Q(text::kOnUpdates), 5, this);
    updatesRadio->setObjectName(QStringLiteral("radio1035"));
    du.Place(updatesRadio, 161, 50, 82, 20);

    fileModeGroup_ = new QButtonGroup(this);
    fileModeGroup_->addButton(allFilesRadio, store::file_mode::kEveryFile);
    fileModeGroup_->addButton(patternRadio, store::file_mode::kMatching);
    timingGroup_ = new QButtonGroup(this);
    timingGroup_->addButton(updatesRadio, store::timing::kUpdates);
    timingGroup_->addButton(namesRadio, store::timing::kNames);

    connect(fileModeGroup_, &QButtonGroup::idClicked, this, [this](int id) {
        Page().SetFileMode(id);
        Show();
    });
    connect(timingGroup_, &QButtonGroup::idClicked, this, [this](int id) { Page().SetTiming(id); });
    connect(patternEdit_, &QLineEdit::textChanged, this,
            [this](const QString& typed) { Page().pattern.text = U8(typed); });

    KeepEnterAndEscapeInPage(this);
    DialogUnits(font()).Place(this, 14, 167, 245, 84);
}

void CFileProcDlg::Show() {
    const rules::FilePage& page = Page();
    ShowField(patternEdit_, page.pattern);
    wildcardLabel_->setEnabled(page.pattern.enabled);
    SetRadios(fileModeGroup_, page.fileMode);
    SetRadios(timingGroup_, page.timing);
}

QLineEdit* CFileProcDlg::EditFor(rules::Field field) const {
    return field == rules::Field::Pattern ? patternEdit_ : nullptr;
}

}  // namespace tavren::ui
