#pragma once

#include "ui/qt/editor_page.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavren::ui {

// The editor's notification page (tab 1): message, sound and WAV file.
class CNoticeProcDlg final : public EditorPage {
    Q_OBJECT

public:
    CNoticeProcDlg(QWidget* editor, rules::EntryEditor& rules, Settle settle);

    void Show() override;
    QLineEdit* EditFor(rules::Field field) const override;
    QLineEdit* WaveEdit() const { return waveEdit_; }

private:
    rules::NoticePage& Page() const { return *rules_.noticePage(); }

    QCheckBox* messageCheck_;
    QCheckBox* soundCheck_;
    QLineEdit* waveEdit_;
    QPushButton* browseButton_;
    QRadioButton* beepRadio_;
    QRadioButton* waveRadio_;
    QButtonGroup* kindGroup_;
};

}  // namespace tavren::ui
