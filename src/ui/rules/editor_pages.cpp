#include "ui/rules/editor_pages.h"

#include "store/watch_entry.h"

namespace tavren::rules {

FilePage FilePage::From(const EntryValues& v) {
    FilePage page;
    page.pattern.text = v.pattern;
    page.timing = v.timing;
    page.SetFileMode(v.fileMode);
    return page;
}

void FilePage::SetFileMode(int mode) {
    fileMode = mode;
    pattern.enabled = mode == store::file_mode::kMatching;
}

NoticePage NoticePage::From(const EntryValues& v) {
    NoticePage page;
    page.showMessage = v.messageMode != 0 ? 1 : 0;
    page.playSound = v.soundMode != 0 ? 1 : 0;
    page.soundKind = v.soundMode == store::sound_mode::kWave ? kWaveKind : kBeepKind;
    page.waveFile.text = v.waveFile;
    page.ApplySoundRule();
    return page;
}

void NoticePage::SetSoundKind(int kind) {
    soundKind = kind;
    waveFile.enabled = kind == kWaveKind;
}

void NoticePage::ApplySoundRule() {
    const bool on = playSound != 0;
    kindsEnabled = on;
    waveFile.enabled = on && soundKind == kWaveKind;
}

int NoticePage::messageMode() const {
    return showMessage != 0 ? store::message_mode::kRunNotice : store::message_mode::kNone;
}

int NoticePage::soundMode() const {
    if (playSound == 0) return store::sound_mode::kNone;
    return soundKind == kWaveKind ? store::sound_mode::kWave : store::sound_mode::kBeep;
}

AfterPage AfterPage::From(const EntryValues& v) {
    AfterPage page;
    page.moveTo.text = v.moveTo;
    page.overwrite = v.overwrite != 0 ? 1 : 0;
    page.SetAfterMode(v.afterMode);
    return page;
}

void AfterPage::SetAfterMode(int mode) {
    afterMode = mode;
    moveTo.enabled = mode == store::after_mode::kMove;
}

}  // namespace tavren::rules
