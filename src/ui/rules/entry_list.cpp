#include "ui/rules/entry_list.h"

#include "platform/folder_ops.h"
#include "platform/start_with_desktop.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::rules {

EntryList::EntryList(std::filesystem::path settingsFile, Prompts& prompts,
                     platform::StartSetting& start, EditorRunner editor)
    : settingsFile_(std::move(settingsFile)),
      prompts_(prompts),
      start_(start),
      editor_(std::move(editor)),
      runCaption_(text::kRunning) {}

void EntryList::Open() {
    startValueAtOpen_ = start_.Read();
    startWithDesktop = startValueAtOpen_ != 0;
    if (const store::Status status = list_.Load(settingsFile_); !status) {
        // Shown as empty, but the user must know before a save replaces it.
        loadFailed_ = true;
        prompts_.Notice(status.message() + std::string(text::kUnreadWillBeReplaced));
    } else if (list_.unreadBytes() > 0) {
        prompts_.Notice(store::DamagedSettingsNotice(settingsFile_, list_.unreadBytes()));
    }
    selected_ = list_.empty() ? -1 : 0;
    if (!list_.empty()) ShowTexts(0);
}

std::string EntryList::Line(std::size_t i) const {
    return std::string(list_.running(i) ? text::kRunningLine : text::kStoppedLine) +
           list_.entry(i).title;
}

void EntryList::ShowTexts(std::size_t line) {
    const store::WatchEntry entry = list_.entry(line);
    folderText_ = entry.folder;
    programText_ = entry.program;
}

// The check box keeps what the user gave it.
void EntryList::SelectionChanged(int line) {
    selected_ = line >= 0 && static_cast<std::size_t>(line) < list_.size() ? line : -1;
    if (selected_ < 0) {
        prompts_.Notice(text::kChooseFromList);
        return;
    }
    ShowTexts(static_cast<std::size_t>(selected_));
}

// Appended at the end, running; the selection and the texts stay.
void EntryList::New() {
    if (list_.full()) {
        prompts_.Notice(text::kListFull);
        return;
    }
    const std::optional<EntryValues> values = editor_(EditorInput{});
    if (!values) return;
    if (const store::Status s = list_.Add(EntryOf(*values)); !s) {
        prompts_.Notice(s.message());
        return;
    }
    modified_ = true;
}

// A changed entry runs, whatever it was before.
void EntryList::Change() {
    if (selected_ < 0) {
        prompts_.Notice(text::kChooseToChange);
        return;
    }
    const auto line = static_cast<std::size_t>(selected_);
    const std::optional<EntryValues> values = editor_(EditorInput{1, ValuesOf(list_.entry(line))});
    if (!values) return;
    if (const store::Status s = list_.Replace(line, EntryOf(*values)); !s) {
        prompts_.Notice(s.message());
        return;
    }
    ShowTexts(line);
    modified_ = true;
}

// Leaves no line selected and the texts as they were; a deletion alone
// does not make Cancel ask.
void EntryList::Delete() {
    if (selected_ < 0) {
        prompts_.Notice(text::kChooseToDelete);
        return;
    }
    if (!prompts_.Question(text::kAskDelete)) return;
    list_.Remove(static_cast<std::size_t>(selected_));
    selected_ = -1;
}

// The caption shows what the last switch made, whichever line is selected.
void EntryList::RunStop() {
    if (selected_ < 0) {
        prompts_.Notice(text::kChooseToSwitch);
        return;
    }
    const auto line = static_cast<std::size_t>(selected_);
    const bool running = !list_.running(line);
    list_.SetRunning(line, running);
    runCaption_ = running ? text::kRunning : text::kStopped;
    modified_ = true;
}

bool EntryList::Save() {
    if (loadFailed_ && !prompts_.Question(text::kAskReplaceUnread)) return false;
    if (!platform::MayReplaceFile(settingsFile_)) {
        prompts_.Notice(text::kOpenForWriteError);
        return false;
    }
    // Written through a temporary file, so a failure keeps the old file.
    if (const store::Status s = list_.Save(settingsFile_); !s) {
        prompts_.Notice(s.message() + std::string(text::kOldFileKept));
        return false;
    }
    if (!list_.keptCopy().empty()) prompts_.Notice(store::KeptCopyNotice(list_.keptCopy()));
    const int enabled = startWithDesktop ? 1 : 0;
    if (enabled != startValueAtOpen_) start_.Apply(enabled);
    return true;
}

bool EntryList::Cancel() {
    return !modified_ || prompts_.Question(text::kAskDiscard);
}

}  // namespace tavren::rules
