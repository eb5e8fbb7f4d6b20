#pragma once

// The settings dialogs as Win32 views of the dialog rules. Each runs modal
// for the program, or modeless (CreateModeless), which lets tests drive it
// with its own messages inside their thread.

#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "ui/rules/entry_editor.h"
#include "ui/rules/entry_list.h"
#include "ui/rules/prompts.h"

namespace tavren::platform {
class StartSetting;
}

namespace tavren::ui::win32 {

// Places a top-level dialog or chooser as it opens: centred over its owner
// while the owner shows, else on the work area of the monitor under the
// mouse (where the tray icon was just clicked), as message boxes open. One
// without a visible owner (the tray's window is hidden) gets a taskbar
// button, so that it can be found again behind other windows.
void PlaceTopLevel(HWND dialog);

// One dialog window from a template of this program, owned by the object.
class DialogWindow {
public:
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    INT_PTR RunModal(HWND owner);
    HWND CreateModeless(HWND parent);
    HWND hwnd() const { return hwnd_; }
    // How a modeless dialog was closed (IDOK or IDCANCEL); none while open.
    std::optional<int> result() const { return result_; }

protected:
    explicit DialogWindow(int templateId) : templateId_(templateId) {}
    // TRUE when the message was handled, as a dialog procedure returns.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    void Close(int result);

private:
    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
    std::optional<int> result_;
};

// Message boxes and the system's choosers, owned by the active window.
class WindowsPrompts final : public rules::Prompts {
public:
    void Notice(std::string_view text) override;
    bool Question(std::string_view text) override;
    std::optional<std::string> ChooseFolder(std::string_view title,
                                            std::string_view start) override;
    std::optional<std::string> ChooseFile(const rules::FileChoice& choice) override;
};

class EditorPage;

// The watch entry editor (template 136) with its three tab pages.
class EditorDialog final : public DialogWindow {
public:
    explicit EditorDialog(rules::Prompts& prompts);
    ~EditorDialog() override;

    rules::EntryEditor& rules() { return rules_; }
    // The window of the page that exists, shown over the tab control.
    HWND page() const;

    // Shows the rules' state again and moves the focus as `outcome` asks.
    void Settle(const rules::Outcome& outcome);
    // Whether the dialog is setting its controls itself (not the user).
    bool showing() const { return showing_ > 0; }
    rules::Prompts& prompts() { return prompts_; }

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Start();
    void Show();
    void ShowPageOfRules();
    void OnTabChanged();
    void OnCommand(int id, int code);

    rules::Prompts& prompts_;
    rules::EntryEditor rules_;
    std::unique_ptr<EditorPage> page_;
    int pageShown_ = -1;
    int showing_ = 0;
};

// Runs the editor modally over `owner`: the values it was confirmed with.
std::optional<rules::EntryValues> RunEntryEditor(HWND owner, rules::Prompts& prompts,
                                                 const rules::EditorInput& input);

// The watch folder list (template 132).
class ListDialog final : public DialogWindow {
public:
    ListDialog(std::filesystem::path settingsFile, rules::Prompts& prompts,
               platform::StartSetting& start, rules::EditorRunner editor);

    rules::EntryList& rules() { return rules_; }

    // Closes the dialog as its キャンセル does, asking whether unsaved
    // changes may be lost, after closing what this thread has open above it
    // (the editor, a box, a chooser), the one in front first, each as its
    // cancel button (else No, else OK) would: true when the dialog closed,
    // false when the user keeps it.
    bool CloseAsking();
    // Closes it the same way, but without the question: nothing is saved.
    void CloseDiscarding();

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Show();
    void OnCommand(int id, int code);
    void DismissAbove();

    rules::EntryList rules_;
};

}  // namespace tavren::ui::win32
