#include "ui/rules/editor_pages.h"

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
    pattern.enabled = mode == 1;
}

NoticePage NoticePage::From(const EntryValues& v) {
    NoticePage page;
    page.showMessage = v.messageMode != 0 ? 1 : 0;
    page.playSound = v.soundMode != 0 ? 1 : 0;
    page.soundKind = v.soundMode == 2 ? 1 : 0;
    page.waveFile.text = v.waveFile;
    page.ApplySoundRule();
    return page;
}

void NoticePage::SetSoundKind(int kind) {
    soundKind = kind;
    waveFile.enabled = kind == 1;
}

void NoticePage::ApplySoundRule() {
    const bool on = playSound != 0;
    kindsEnabled = on;
    waveFile.enabled = on && soundKind == 1;
}

int NoticePage::soundMode() const {
    if (playSound == 0) return 0;
    return soundKind == 1 ? 2 : 1;
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
    moveTo.enabled = mode == 2;
}

}  // namespace tavren::rules
