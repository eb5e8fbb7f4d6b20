#include "ui/win32/settings_dialog.h"

#include <commctrl.h>

#include "platform/start_with_desktop.h"
#include "ui/win32/dialogs.h"

namespace tavren::ui::win32 {

int RunWatchSettingsDialog(const store::DataFolder& data, HWND owner) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    WindowsPrompts prompts;
    ListDialog* shown = nullptr;
    ListDialog list(data.settingsFile(), prompts, platform::SystemStartSetting(),
                    [&](const rules::EditorInput& input) {
                        return RunEntryEditor(shown->hwnd(), prompts, input);
                    });
    shown = &list;
    return static_cast<int>(list.RunModal(owner));
}

}  // namespace tavren::ui::win32
