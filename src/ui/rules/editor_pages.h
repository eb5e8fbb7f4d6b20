#pragma once

#include "store/watch_entry.h"
#include "ui/rules/entry_values.h"
#include "ui/rules/field_limits.h"

namespace tavren::rules {

// The editor's three tab pages. Each holds its own copy of the values it
// edits, as its controls show them; the editor hands them over when the
// page is created (From) and reads them back, with its checks, when the
// page is left. A radio value that none of a group's radios stands for
// shows them all cleared.

// Tab 0: which files count and when to react.
struct FilePage {
    // Radios: every file, or the files matching the pattern; files updated,
    // or created, renamed or deleted. The stored codes stand for the radios.
    int fileMode = store::file_mode::kEveryFile;
    int timing = store::timing::kNames;
    TextField pattern;  // with its wildcard hint, enabled exactly when fileMode is 1

    static FilePage From(const EntryValues& values);
    void SetFileMode(int mode);
    void SetTiming(int value) { timing = value; }
};

// Tab 1: message and sound. The editor's messageMode and soundMode become a
// check and a radio here, and are decoded again when the page is read.
struct NoticePage {
    int showMessage = 0;
    int playSound = 0;
    static constexpr int kBeepKind = 0;
    static constexpr int kWaveKind = 1;
    int soundKind = kBeepKind;  // radios: beep, the WAV file
    bool kindsEnabled = false;  // the two radios
    TextField waveFile;         // with its browse button

    static NoticePage From(const EntryValues& values);
    void SetSoundKind(int kind);
    // The radios follow the sound check; the WAV path and its button also
    // need the WAV radio. Turning the sound off keeps the radio chosen.
    void ApplySoundRule();
    // A shown message is always the one that says what is run.
    int messageMode() const;
    int soundMode() const;
};

// Tab 2: nothing, or move the file to another folder. Deleting (1) has a
// radio that is never shown: it comes only from an entry handed in.
struct AfterPage {
    int afterMode = store::after_mode::kNothing;  // radios: nothing, delete, move
    int overwrite = 0;
    TextField moveTo;  // with its browse button and the overwrite check

    static AfterPage From(const EntryValues& values);
    void SetAfterMode(int mode);
};

}  // namespace tavren::rules
