#include "ui/win32/settings_dialog.h"

#include <commctrl.h>

#include "platform/start_with_desktop.h"
#include "ui/win32/dialogs.h"

namespace tavren::ui::win32 {

int WatchSettings::Run(HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    WindowsPrompts prompts;
    ListDialog* shown = nullptr;
    ListDialog list(data_.settingsFile(), prompts, platform::SystemStartSetting(),
                    [&](const rules::EditorInput& input) {
                        return RunEntryEditor(shown->hwnd(), prompts, input);
                    });
    shown = &list;
    open_ = &list;
    const auto result = list.RunModal(owner);
    open_ = nullptr;
    return static_cast<int>(result);
}

bool WatchSettings::Close() {
    if (!open_) return true;
    // Asked again while its question is open: that question stands.
    if (closing_) return false;
    closing_ = true;
    const bool closed = open_->CloseAsking();
    closing_ = false;
    return closed;
}

void WatchSettings::Discard() {
    if (open_) open_->CloseDiscarding();
}

}  // namespace tavren::ui::win32
