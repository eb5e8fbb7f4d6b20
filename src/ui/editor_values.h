#pragma once

#include <QString>

namespace tavren::ui {

// One watch entry as the editor holds it: a member per entry field under
// the field's name, text in UTF-8 (the limits count CP932 bytes). The
// defaults are those of a new entry.
struct EditorValues {
    QString title;
    QString folder;
    QString program;
    int openFile = 0;
    int waitExit = 0;
    int fileMode = 0;
    int timing = 1;
    int afterMode = 0;
    int messageMode = 0;
    int soundMode = 0;
    int overwrite = 0;
    QString pattern;
    QString moveTo;
    QString waveFile;
};

}  // namespace tavren::ui
