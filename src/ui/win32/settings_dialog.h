#pragma once

#include <windows.h>

#include "store/data_folder.h"

namespace tavren::ui::win32 {

class ListDialog;

// The watch settings as the tray opens them: the list of watch entries (the
// settings of `data`), modal over the tray's window, the editor modal over
// the list.
class WatchSettings {
public:
    explicit WatchSettings(const store::DataFolder& data) : data_(data) {}
    WatchSettings(const WatchSettings&) = delete;
    WatchSettings& operator=(const WatchSettings&) = delete;

    // Shows the list modally over `owner` (may be null) until it closes.
    // Returns IDOK after the entries were saved, IDCANCEL when the user left
    // without saving.
    int Run(HWND owner);

    // Closes the settings when they are open, as their キャンセル does, after
    // closing what is open above the list (the editor, a question, a
    // chooser): true when they are closed (or were not open), false when the
    // user chose to keep unsaved changes and they stay open.
    bool Close();
    // Closes them the same way, but without the question: the program is
    // ended from outside, and nothing is saved.
    void Discard();

private:
    const store::DataFolder& data_;
    ListDialog* open_ = nullptr;
    bool closing_ = false;
};

}  // namespace tavren::ui::win32
