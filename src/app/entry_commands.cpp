#include "app/entry_commands.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include "app/command_args.h"
#include "app/entry_options.h"
#include "app/entry_table.h"
#include "app/run_language.h"
#include "app/usage.h"
#include "app/watcher_signal.h"
#include "engine/activity_log_writer.h"
#include "engine/services.h"
#include "platform/clock.h"
#include "platform/folder_lock.h"
#include "platform/folder_ops.h"
#include "platform/fs.h"
#include "platform/log_file.h"
#include "platform/output_line.h"
#include "platform/path_text.h"
#include "platform/terminal.h"
#include "platform/wildcard.h"
#include "store/activity_log.h"
#include "store/message_language.h"
#include "ui/rules/dialog_texts.h"
#include "ui/rules/entry_editor.h"
#include "ui/rules/entry_text.h"
#include "ui/rules/entry_values.h"
#include "ui/rules/field_limits.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;
using rules::EntryRecord;
using rules::Field;
using rules::ImportParse;
using rules::Outcome;
using rules::Trimmed;

// ---------------------------------------------------------------------------
// Answers to the editor: messages on standard error; a question is answered
// yes by --create-folders, asked at a terminal, and otherwise taken as no.

class CommandPrompts final : public rules::Prompts {
public:
    CommandPrompts(std::string who, Lang lang, bool createFolders)
        : who_(std::move(who)), lang_(lang), createFolders_(createFolders) {}

    void Notice(std::string_view text) override {
        std::fprintf(stderr, "%s: %s\n", who_.c_str(), InRunLanguage(text, lang_.ja).c_str());
    }

    bool Question(std::string_view text) override {
        lastQuestion = text;
        Notice(text);
        if (createFolders_) {
            std::fprintf(stderr, "%s: %s\n", who_.c_str(),
                         lang_("はい (--create-folders)", "yes (--create-folders)").c_str());
            return true;
        }
        if (!platform::StdinIsTerminal()) {
            Notice(lang_("いいえとみなしました。作成するには --create-folders を付けてください。",
                         "taken as no: give --create-folders to create it."));
            return false;
        }
        std::fprintf(stderr, "%s", lang_("はい(y) / いいえ(n): ", "yes (y) / no (n): ").c_str());
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        const std::string_view a = Trimmed(answer);
        return a == "y" || a == "Y" || a == "yes" || a == "はい";
    }

    std::optional<std::string> ChooseFolder(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseFile(const rules::FileChoice&) override {
        return std::nullopt;
    }

    // The field a refusal is about. A folder that could not be created
    // leaves the focus where it was; the question before it names it.
    Field Refused(const Outcome& outcome) const {
        if (outcome.focus != Field::None) return outcome.focus;
        if (lastQuestion == rules::text::kFolderMissing) return Field::Folder;
        if (lastQuestion == rules::text::kMoveToMissing) return Field::MoveTo;
        return Field::None;
    }

    std::string lastQuestion;

private:
    std::string who_;
    Lang lang_;
    bool createFolders_;
};

// ---------------------------------------------------------------------------
// The editor, driven as a user would drive it who typed the options: the
// first page is shown at start, the other two only when an option of
// theirs is given, and OK is pressed last. Each check and message is the
// dialog's own, in its order.

std::string_view KeyOf(Field field) {
    switch (field) {
        case Field::Title:
            return "title";
        case Field::Folder:
            return "folder";
        case Field::Program:
            return "program";
        case Field::Pattern:
            return "pattern";
        case Field::WaveFile:
            return "wave-file";
        case Field::MoveTo:
            return "move-to";
        case Field::None:
            break;
    }
    return {};
}

// What the edit fields' typing limits do in the dialog: a text that does
// not fit its field is refused whether or not its field is in use, so that
// nothing is cut short when it is stored.
Outcome CheckTexts(const std::vector<std::pair<Field, const std::string*>>& texts,
                   rules::Prompts& prompts) {
    for (const auto& [field, text] : texts) {
        if (!text) continue;
        const rules::FieldLimit limit = rules::LimitOf(field);
        const rules::TextCheck check = rules::CheckText(*text, limit);
        if (check != rules::TextCheck::Fits) {
            prompts.Notice(rules::RefusalText(check, limit));
            return {false, field};
        }
    }
    return {};
}

struct EditResult {
    std::optional<rules::EntryValues> values;
    Field refused = Field::None;
};

EditResult Edit(int editMode, const rules::EntryValues& start, EntryOptions o,
                CommandPrompts& prompts) {
    const Outcome typed = CheckTexts({{Field::Title, o.title ? &*o.title : nullptr},
                                      {Field::Folder, o.folder ? &*o.folder : nullptr},
                                      {Field::Program, o.program ? &*o.program : nullptr},
                                      {Field::Pattern, o.pattern ? &*o.pattern : nullptr},
                                      {Field::WaveFile, o.waveFile ? &*o.waveFile : nullptr},
                                      {Field::MoveTo, o.moveTo ? &*o.moveTo : nullptr}},
                                     prompts);
    if (!typed.ok) return {std::nullopt, typed.focus};

    rules::EntryEditor editor(prompts);
    editor.editMode = editMode;
    editor.values = start;
    editor.Start();
    rules::EditorControls& c = editor.controls;
    if (o.title) c.title.text = *o.title;
    if (o.folder) c.folder.text = *o.folder;
    if (o.program) {
        c.program.text = *o.program;
        editor.ProgramChanged();
    }
    if (o.waitExit) c.waitExit = *o.waitExit;
    if (o.openFile && *o.openFile != c.openFile) {
        c.openFile = *o.openFile;
        if (const Outcome r = editor.OpenFileClicked(); !r.ok) return {std::nullopt, r.focus};
    }
    if (rules::FilePage* page = editor.filePage()) {
        if (o.fileMode) page->SetFileMode(*o.fileMode);
        if (o.timing) page->SetTiming(*o.timing);
        if (o.pattern) page->pattern.text = *o.pattern;
    }
    if (o.noticePage()) {
        if (const Outcome r = editor.SwitchTo(1); !r.ok) return {std::nullopt, r.focus};
        rules::NoticePage& page = *editor.noticePage();
        if (o.message) page.showMessage = *o.message;
        if (o.sound) {
            page.playSound = *o.sound != store::sound_mode::kNone ? 1 : 0;
            if (*o.sound == store::sound_mode::kWave)
                page.SetSoundKind(rules::NoticePage::kWaveKind);
            if (*o.sound == store::sound_mode::kBeep)
                page.SetSoundKind(rules::NoticePage::kBeepKind);
        }
        if (o.waveFile) page.waveFile.text = *o.waveFile;
        page.ApplySoundRule();
    }
    if (o.afterPage()) {
        if (const Outcome r = editor.SwitchTo(2); !r.ok) return {std::nullopt, r.focus};
        rules::AfterPage& page = *editor.afterPage();
        if (o.afterMode) page.SetAfterMode(*o.afterMode);
        if (o.moveTo) page.moveTo.text = *o.moveTo;
        if (o.overwrite) page.overwrite = *o.overwrite;
    }
    if (const Outcome r = editor.Ok(); !r.ok) return {std::nullopt, prompts.Refused(r)};
    return {editor.values, Field::None};
}

// An imported record passes the same checks: every text against its field,
// then the editor with the record handed in as a change, its notice page
// shown when the record plays a WAV file, its move page when it moves
// files, and OK. Its paths are then stored whole, as the editor made them.
Outcome CheckRecord(EntryRecord& record, rules::Prompts& prompts) {
    const store::WatchEntry& e = record.entry;
    if (const Outcome o = CheckTexts({{Field::Title, &e.title},
                                      {Field::Folder, &e.folder},
                                      {Field::Program, &e.program},
                                      {Field::Pattern, &e.pattern},
                                      {Field::WaveFile, &e.waveFile},
                                      {Field::MoveTo, &e.moveTo}},
                                     prompts);
        !o.ok) {
        return o;
    }
    rules::EntryEditor editor(prompts);
    editor.editMode = 1;
    editor.values = rules::ValuesOf(e);
    editor.Start();
    if (e.playsWave()) {
        if (const Outcome o = editor.SwitchTo(1); !o.ok) return o;
    }
    if (e.movesFiles()) {
        if (const Outcome o = editor.SwitchTo(2); !o.ok) return o;
    }
    const Outcome o = editor.Ok();
    if (o.ok) {
        record.entry.folder = editor.values.folder;
        record.entry.program = editor.values.program;
        record.entry.waveFile = editor.values.waveFile;
        record.entry.moveTo = editor.values.moveTo;
    }
    return o;
}

// ---------------------------------------------------------------------------
// The commands.

// How often log --follow looks for new lines.
constexpr auto kFollowPoll = std::chrono::milliseconds(250);

// A log that cannot be written is told on standard error; the change stands.
class CommandProblems final : public engine::MessageSink {
public:
    explicit CommandProblems(CommandPrompts& prompts) : prompts_(prompts) {}
    void ShowMessage(std::string_view text, const platform::WakeEvent&) override {
        prompts_.Notice(text);
    }
    void ReportProblem(std::string_view text) override { prompts_.Notice(text); }

private:
    CommandPrompts& prompts_;
};

class Runner {
public:
    Runner(const Invocation& inv, std::string program, Lang lang)
        : inv_(inv),
          who_(program + " " + std::string(inv.command->name)),
          L(lang),
          prompts_(who_, lang, inv.createFolders) {}

    int Run() {
        const Command command = inv_.command->command;
        if (const std::string refused = RefusedOptions(inv_.entry, L); !refused.empty()) {
            Error(refused + L("。何も変更していません。", ". Nothing was changed."));
            return 1;
        }
        if (command == Command::List || command == Command::Export || command == Command::Log) {
            if (!FindDataFolder()) return 1;
        } else {
            CommandArgs args;
            args.dataDir = inv_.dataDir;
            auto data = OpenDataFolder(args);
            if (!data) return 1;
            data_.emplace(std::move(*data));
        }
        switch (inv_.command->command) {
            case Command::List:
                return List();
            case Command::Export:
                return Export();
            case Command::Import:
                return Import();
            case Command::Log:
                return Log();
            default:
                return Change();
        }
    }

private:
    void Error(const std::string& text) { prompts_.Notice(text); }

    // The change, in the activity log the watchers write too.
    void LogCommand(int entry, const std::string& title) {
        CommandProblems problems(prompts_);
        const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
        engine::ActivityLog log(store::LogPath(*data_), *clock, problems);
        log.Write(entry, title, store::log_event::kCommand, {}, inv_.command->name);
    }

    // A command that only reads creates nothing: a mistyped --data-dir
    // would otherwise leave a folder tree behind and list nothing.
    bool FindDataFolder() {
        std::string error;
        auto data = store::DataFolder::Resolve(inv_.dataDir, error);
        if (!data) {
            Error(error);
            return false;
        }
        if (!platform::IsFolder(data->root())) {
            Error(L("データフォルダがありません: ", "no such data folder: ") +
                  platform::OneLine(platform::PathToUtf8(data->root())));
            return false;
        }
        data_.emplace(std::move(*data));
        return true;
    }

    bool Load(store::SettingsList& list) {
        if (const store::Status s = list.Load(data_->settingsFile()); !s) {
            Error(s.message());
            return false;
        }
        if (list.unreadBytes() > 0) {
            Error(store::DamagedSettingsNotice(data_->settingsFile(), list.unreadBytes()));
        }
        return true;
    }

    // A change now would be overwritten when the tray's settings close.
    // Two commands at once would each write back the list they read, and
    // the first one's change would be lost: they take turns, through a lock
    // of their own beside the watcher's. Without the lock nothing is changed.
    bool TakeTurn() {
        const fs::path file = data_->root() / "tavren3.edit.lock";
        for (int tries = 0; tries < 100; ++tries) {
            long holder = 0;
            std::error_code ec;
            turn_ = platform::LockFile(file, holder, ec);
            if (turn_) return true;
            if (ec != std::errc::resource_unavailable_try_again) {
                Error(platform::PathToUtf8(file) +
                      L(" をロックできません: ", ": cannot lock it: ") + ec.message() +
                      L("。何も変更していません。", ". Nothing was changed."));
                return false;
            }
            lastHolder_ = holder;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Error(L("別のコマンドが監視設定を変更中です (プロセス ",
                "another command is changing the watch settings (process ") +
              std::to_string(lastHolder_) +
              L(")。何も変更していません。", "). Nothing was changed."));
        return false;
    }

    bool SettingsAreFree() {
        if (const auto pid = SettingsOpenBy(*data_)) {
            Error(
                L("Tavren3 (プロセス ", "Tavren3 (process ") + std::to_string(*pid) +
                L(") "
                  "で監視設定が開いています。閉じてからやり直してください。何も変更していません。",
                  ") has the watch settings open: close them and try again. Nothing was changed."));
            return false;
        }
        return true;
    }

    bool Save(store::SettingsList& list) {
        const fs::path file = data_->settingsFile();
        if (!platform::MayReplaceFile(file)) {
            Error(std::string(rules::text::kOpenForWriteError));
            return false;
        }
        if (const store::Status s = list.Save(file); !s) {
            Error(s.message() + std::string(rules::text::kOldFileKept));
            return false;
        }
        if (!list.keptCopy().empty()) Error(store::KeptCopyNotice(list.keptCopy()));
        return true;
    }

    int Refused(Field field) {
        const std::string_view key = KeyOf(field);
        Error(L("何も変更していません", "nothing was changed") +
              (key.empty() ? std::string() : " (--" + std::string(key) + ")"));
        return 1;
    }

    int List() {
        store::SettingsList list;
        if (!Load(list)) return 1;
        PrintList(list, L);
        return 0;
    }

    int Change() {
        store::SettingsList list;
        if (!TakeTurn() || !Load(list) || !SettingsAreFree()) return 1;
        std::size_t n = 0;
        if (inv_.command->numbers) {
            const std::string& word = inv_.operands.front();
            const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
            if (ec != std::errc() || end != word.data() + word.size() || n < 1 || n > list.size()) {
                Error(L("番号 ", "no entry number ") + word +
                      (list.empty() ? L(" の監視設定はありません (登録なし)", " (there are none)")
                                    : L(" の監視設定はありません (1〜", " (1 to ") +
                                          std::to_string(list.size()) + L(")", ")")));
                return 1;
            }
            --n;
        }
        std::string done;
        std::string removedTitle;
        switch (inv_.command->command) {
            case Command::Add: {
                if (list.full()) {
                    Error(std::string(rules::text::kListFull));
                    return 1;
                }
                EditResult r = Edit(0, rules::EntryValues{}, inv_.entry, prompts_);
                if (!r.values) return Refused(r.refused);
                if (const store::Status s = list.Add(rules::EntryOf(*r.values)); !s) {
                    Error(s.message());
                    return 1;
                }
                n = list.size() - 1;
                done = L("登録しました: ", "added: ");
                break;
            }
            case Command::Change: {
                EditResult r = Edit(1, rules::ValuesOf(list.entry(n)), inv_.entry, prompts_);
                if (!r.values) return Refused(r.refused);
                if (const store::Status s = list.Replace(n, rules::EntryOf(*r.values)); !s) {
                    Error(s.message());
                    return 1;
                }
                done = L("変更しました: ", "changed: ");
                break;
            }
            case Command::Remove:
                removedTitle = list.entry(n).title;
                done =
                    L("削除しました: ", "removed: ") + std::to_string(n + 1) + " " + removedTitle;
                list.Remove(n);
                break;
            case Command::Run:
            case Command::Stop:
                list.SetRunning(n, inv_.command->command == Command::Run);
                break;
            default:
                break;
        }
        if (!Save(list)) return 1;
        const bool removed = inv_.command->command == Command::Remove;
        LogCommand(static_cast<int>(n) + 1, removed ? removedTitle : list.entry(n).title);
        if (done.empty() || !removed) {
            done += std::to_string(n + 1) + " " + list.entry(n).title + " (" +
                    (list.running(n) ? L("実行中", "running") : L("停止中", "stopped")) + ")";
        }
        std::printf("%s\n", platform::OneLine(done).c_str());
        TellWatcher(*data_, L);
        return 0;
    }

    bool Wanted(const store::LogRecord& r) const {
        const LogOptions& o = inv_.log;
        if (o.entry && r.entry != *o.entry) return false;
        if (o.since && r.time.compare(0, o.since->size(), *o.since) < 0) return false;
        if (o.file && !(platform::HasWildcards(*o.file) ? platform::MatchWildcard(*o.file, r.file)
                                                        : r.file == *o.file)) {
            return false;
        }
        return true;
    }

    bool Print(const std::vector<store::LogRecord>& records) const {
        for (const store::LogRecord& r : records) {
            if (Wanted(r)) std::printf("%s\n", store::FormatLogLine(r).c_str());
        }
        return std::fflush(stdout) == 0;
    }

    // The rotated files first, oldest to newest, then the log; with
    // --follow, what is appended after, until interrupted (or the reader
    // of the output is gone).
    int Log() {
        const fs::path log = store::LogPath(*data_);
        std::uint64_t offset = 0;
        for (int n = engine::ActivityLog::kLogKeep; n >= 1; --n) {
            if (!Print(store::ReadLogFrom(platform::RotatedLogPath(log, n), offset))) return 1;
            offset = 0;
        }
        if (!Print(store::ReadLogFrom(log, offset))) return 1;
        while (inv_.log.follow) {
            std::this_thread::sleep_for(kFollowPoll);
            if (!Print(store::ReadLogFrom(log, offset))) return 1;
        }
        return 0;
    }

    int Export() {
        store::SettingsList list;
        if (!Load(list)) return 1;
        const std::string text = rules::ExportText(list);
        if (inv_.operands.empty() || inv_.operands.front() == "-") {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        const fs::path file = platform::PathFromUtf8(inv_.operands.front());
        if (const std::error_code ec = platform::WriteFileAtomically(file, text)) {
            Error(inv_.operands.front() + ": " + ec.message());
            return 1;
        }
        std::printf("%s\n", (std::to_string(list.size()) +
                             L(" 件を書き出しました: ",
                               list.size() == 1 ? " entry written to " : " entries written to ") +
                             inv_.operands.front())
                                .c_str());
        return 0;
    }

    int Import() {
        const std::string name = platform::OneLine(inv_.operands.front());
        std::string text;
        if (inv_.operands.front() == "-") {
            text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        } else if (const std::error_code ec =
                       platform::ReadFile(platform::PathFromUtf8(inv_.operands.front()), text)) {
            Error(name + ": " + ec.message());
            return 1;
        }
        ImportParse parsed = rules::ParseEntryText(text, L.ja);
        if (!parsed.error.empty()) {
            Error(name + ": " + parsed.error +
                  L("。何も変更していません。", ". Nothing was changed."));
            return 1;
        }
        // An empty or truncated file is more likely a mistake than a wish to
        // lose every entry.
        if (parsed.records.empty()) {
            Error(name + L(": [entry] がありません。何も変更していません。",
                           ": no [entry] in it. Nothing was changed."));
            return 1;
        }
        if (parsed.records.size() > store::kMaxWatchEntries) {
            Error(std::string(rules::text::kListFull));
            return 1;
        }
        if (!TakeTurn() || !SettingsAreFree()) return 1;
        // Every record is checked before anything is written.
        store::SettingsList list;
        for (std::size_t i = 0; i < parsed.records.size(); ++i) {
            EntryRecord& record = parsed.records[i];
            const Outcome o = CheckRecord(record, prompts_);
            store::Status added;
            if (o.ok) added = list.Add(record.entry);
            if (!o.ok || !added) {
                if (!added) Error(platform::OneLine(added.message()));
                const std::string_view key = KeyOf(prompts_.Refused(o));
                const std::string at = std::to_string(record.LineOf(key));
                const std::string number = std::to_string(i + 1);
                Error(name + ": " +
                      L("記録 " + number + " (" + at + " 行目)",
                        "record " + number + " (line " + at + ")") +
                      (key.empty() ? "" : ", " + std::string(key)) +
                      L("。何も変更していません。", ". Nothing was changed."));
                return 1;
            }
            if (!record.running) list.SetRunning(list.size() - 1, false);
        }
        if (!Save(list)) return 1;
        LogCommand(0, {});
        std::printf("%s\n", (std::to_string(list.size()) +
                             L(" 件を読み込みました。",
                               list.size() == 1 ? " entry imported." : " entries imported."))
                                .c_str());
        TellWatcher(*data_, L);
        return 0;
    }

    const Invocation& inv_;
    std::string who_;
    Lang L;
    CommandPrompts prompts_;
    std::optional<store::DataFolder> data_;
    std::unique_ptr<platform::FileLock> turn_;  // held from reading the list to saving it
    long lastHolder_ = 0;
};

}  // namespace

bool NamesEntryCommand(std::span<const std::string> words) {
    Invocation inv;
    return SplitAtCommand(words, inv).has_value();
}

std::optional<int> RunEntryCommand(std::span<const std::string> words, std::string_view program) {
    const Lang L{JapaneseLocale()};
    Invocation inv;
    const auto rest = SplitAtCommand(words, inv);
    if (!rest) return std::nullopt;
    store::UseEnglishMessages(!L.ja);
    const std::string who = std::string(program) + " " + std::string(inv.command->name);
    const std::string error = ParseOptions(*rest, inv, L);
    if (inv.help) {
        std::fputs(SubcommandUsage(program, inv.command->name, L.ja).c_str(), stdout);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(
            stderr, "%s: %s\n%s\n", who.c_str(), error.c_str(),
            (L("詳しくは ", "See ") + who + " --help" + L(" をご覧ください。", ".")).c_str());
        return 2;
    }
    return Runner(inv, std::string(program), L).Run();
}

}  // namespace tavren::app
