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

// The editor's notification page (tab 1): message, sound and WAV file. The
// editor hands its messageMode and soundMode over as the check and radio
// members below and decodes them on the way back.
class CNoticeProcDlg final : public QWidget {
    Q_OBJECT

public:
    explicit CNoticeProcDlg(QWidget* editor);

    int showMessage = 0;
    int playSound = 0;
    QString waveFile;
    int soundKind = 0;  // 0 beep, 1 the WAV file

    void Start();

    // Controls to members; a WAV path over its limit (only a chooser puts
    // one there) shows its message, and the result says so, but is read
    // all the same.
    TextCheck ReadControls();
    void WriteControls();

    QLineEdit* WaveEdit() const { return waveEdit_; }

    static constexpr std::size_t kWaveLimit = store::kPathMaxBytes;

private:
    void ApplySoundRule();
    void SetSoundKind(int kind);
    void OnSoundClicked();
    void ChooseWave();

    QCheckBox* messageCheck_;
    QCheckBox* soundCheck_;
    QLineEdit* waveEdit_;
    QPushButton* browseButton_;
    QRadioButton* beepRadio_;
    QRadioButton* waveRadio_;
    QButtonGroup* kindGroup_;
};

}  // namespace tavren::ui
