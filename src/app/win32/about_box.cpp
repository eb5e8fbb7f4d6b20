#include "app/win32/about_box.h"

#include "app_ids.h"
#include "ui/win32/dialogs.h"

namespace tavren::app::win32 {

void ShowAboutBox(HWND owner) {
    ::DialogBoxParamW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner,
        [](HWND box, UINT message, WPARAM w, LPARAM) -> INT_PTR {
            switch (message) {
                case WM_INITDIALOG:
                    ui::win32::PlaceTopLevel(box);
                    return TRUE;  // the focus on OK
                case WM_COMMAND:
                    if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) {
                        ::EndDialog(box, LOWORD(w));
                        return TRUE;
                    }
                    break;
            }
            return FALSE;
        },
        0);
}

}  // namespace tavren::app::win32
