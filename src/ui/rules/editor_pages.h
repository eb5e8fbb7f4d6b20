#pragma once

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
    int fileMode = 0;   // radios: every file (0), the files matching the pattern (1)
    int timing = 1;     // radios: files updated (0), created, renamed or deleted (1)
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
    int soundKind = 0;          // radios: beep (0), the WAV file (1)
    bool kindsEnabled = false;  // the two radios
    TextField waveFile;         // with its browse button

    static NoticePage From(const EntryValues& values);
    void SetSoundKind(int kind);
    // The radios follow the sound check; the WAV path and its button also
    // need the WAV radio. Turning the sound off keeps the radio chosen.
    void ApplySoundRule();
    int messageMode() const { return showMessage != 0 ? 1 : 0; }
    int soundMode() const;
};

// Tab 2: nothing, or move the file to another folder. Deleting (1) has a
// radio that is never shown: it comes only from an entry handed in.
struct AfterPage {
    int afterMode = 0;  // radios: nothing (0), delete (1), move to moveTo (2)
    int overwrite = 0;
    TextField moveTo;  // with its browse button and the overwrite check

    static AfterPage From(const EntryValues& values);
    void SetAfterMode(int mode);
};

}  // namespace tavren::rules
