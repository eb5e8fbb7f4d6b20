#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "store/settings_list.h"
#include "ui/rules/entry_values.h"
#include "ui/rules/prompts.h"

namespace tavren::platform {
class StartSetting;
}

namespace tavren::rules {

struct EditorInput {
    int editMode = 0;    // 0 new entry (the editor's own defaults), 1 change of `values`
    EntryValues values;  // used only for a change
};

// Runs the entry editor: the values it was confirmed with, or nullopt when
// it was cancelled.
using EditorRunner = std::function<std::optional<EntryValues>(const EditorInput&)>;

// The watch folder list. It reads every slot of the settings file into a
// working list when it opens; edits change only that list, and Save writes
// all of it back at once. Slots the user leaves alone are written back
// byte for byte.
//
// The front end shows lineCount()/Line(), the selection, the two texts, the
// run/stop caption and the check box; it tells the selection and the check
// box as the user changes them and calls the command of each button.
class EntryList {
public:
    EntryList(std::filesystem::path settingsFile, Prompts& prompts, platform::StartSetting& start,
              EditorRunner editor);

    // Reads the stored start choice and the settings file, selects line 0.
    void Open();

    std::size_t lineCount() const { return list_.size(); }
    std::string Line(std::size_t i) const;
    int selected() const { return selected_; }
    const std::string& folderText() const { return folderText_; }
    const std::string& programText() const { return programText_; }
    std::string_view runCaption() const { return runCaption_; }
    bool modified() const { return modified_; }

    // The check box, as the user leaves it; it is applied only by Save.
    bool startWithDesktop = false;

    // The user selected `line` (-1: none).
    void SelectionChanged(int line);
    void New();
    void Change();
    void Delete();
    void RunStop();
    // True when the dialog closes: saved, or cancelled without keeping it.
    bool Save();
    bool Cancel();

private:
    void ShowTexts(std::size_t line);

    std::filesystem::path settingsFile_;
    Prompts& prompts_;
    platform::StartSetting& start_;
    EditorRunner editor_;
    store::SettingsList list_;
    int selected_ = -1;
    std::string folderText_;
    std::string programText_;
    std::string_view runCaption_;
    bool modified_ = false;  // set by New, Change and Run/stop only
    int startValueAtOpen_ = 0;
    bool loadFailed_ = false;  // the file exists but could not be read
};

}  // namespace tavren::rules
