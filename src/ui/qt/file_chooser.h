#pragma once

class QFileDialog;

namespace tavren::ui {

// Makes `dialog` one of the program's choosers: Qt's own dialog rather than
// the desktop's (the same on every desktop, and in Japanese with Qt's
// translations), whose columns and list of places are widened to their
// Japanese headers and texts whenever it shows a folder. Qt sizes them for
// English samples, or as a former run left them, which cuts "サイズ",
// dates and kinds of file short.
void PrepareChooser(QFileDialog& dialog);

}  // namespace tavren::ui
