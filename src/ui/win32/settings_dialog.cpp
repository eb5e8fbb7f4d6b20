#include "ui/win32/settings_dialog.h"

namespace tavren::ui::win32 {

int RunWatchSettingsDialog(const store::DataFolder& /*data*/, HWND /*owner*/) {
    return IDCANCEL;
}

}  // namespace tavren::ui::win32
