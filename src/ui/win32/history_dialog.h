#pragma once

#include <windows.h>

#include "store/data_folder.h"
#include "ui/rules/history.h"
#include "ui/win32/dialogs.h"

namespace tavren::platform {
class ProcessLauncher;
}

namespace tavren::ui::win32 {

// The history window (template 137): the activity log of `data`, newest
// first, filtered by entry, read on every 500 ms while it is open. Run
// modeless beside the tray; it leaves watching alone. Its close destroys
// the window; the object may then be shown again with CreateModeless.
class HistoryDialog final : public DialogWindow {
public:
    // `launcher` opens an entry's folder in the desktop's file manager.
    HistoryDialog(const store::DataFolder& data, platform::ProcessLauncher& launcher);

    // Reads the lines added to the log since the last read and shows them.
    void Poll();

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Start();
    void Layout();
    int ChosenEntry() const;  // 0: every entry
    void FillFilter();
    void FillList();
    void AddRow(const store::LogRecord& record, int at);
    int SelectedEntry() const;   // 0: none, or the program's own line
    void OpenFolder(int entry);  // 0: the program's own line, no folder

    rules::History history_;
    platform::ProcessLauncher& launcher_;
};

}  // namespace tavren::ui::win32
