#include "app/entry_commands.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include "app/command_args.h"
#include "app/usage.h"
#include "platform/folder_lock.h"
#include "platform/folder_ops.h"
#include "platform/fs.h"
#include "platform/output_line.h"
#include "platform/path_text.h"
#include "platform/reload_request.h"
#include "platform/terminal.h"
#include "ui/rules/dialog_texts.h"
#include "ui/rules/entry_editor.h"
#include "ui/rules/entry_values.h"
#include "ui/rules/field_limits.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;
using rules::Field;
using rules::Outcome;

// The program's own texts in the user's language; the editor's messages
// stay as the dialogs show them.
struct Lang {
    bool ja = false;
    std::string operator()(std::string_view japanese, std::string_view english) const {
        return std::string(ja ? japanese : english);
    }
};

// ---------------------------------------------------------------------------
// The words of each mode field, in export text and options alike. A stored
// value without a word is written, and read, as its number.

struct Word {
    std::string_view word;
    std::int16_t value;
};
using Words = std::span<const Word>;

constexpr Word kFilesWords[] = {{"all", store::file_mode::kEveryFile},
                                {"pattern", store::file_mode::kMatching}};
constexpr Word kOnWords[] = {{"updates", store::timing::kUpdates},
                             {"names", store::timing::kNames}};
constexpr Word kMessageWords[] = {{"no", store::message_mode::kNone},
                                  {"yes", store::message_mode::kRunNotice},
                                  {"as-is", store::message_mode::kAsIs}};
constexpr Word kSoundWords[] = {{"none", store::sound_mode::kNone},
                                {"beep", store::sound_mode::kBeep},
                                {"wave", store::sound_mode::kWave}};
constexpr Word kAfterWords[] = {{"nothing", store::after_mode::kNothing},
                                {"delete", store::after_mode::kDelete},
                                {"move", store::after_mode::kMove}};
constexpr Word kYesNoWords[] = {{"no", 0}, {"yes", 1}};
constexpr Word kIfExistsWords[] = {{"rename", 0}, {"replace", 1}};

std::string WordOf(Words words, std::int16_t value) {
    for (const Word& w : words) {
        if (w.value == value) return std::string(w.word);
    }
    return std::to_string(value);
}

std::optional<std::int16_t> ValueOf(Words words, std::string_view text, bool numbers) {
    for (const Word& w : words) {
        if (w.word == text) return w.value;
    }
    if (!numbers) return std::nullopt;
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < INT16_MIN ||
        value > INT16_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

std::string WordList(Words words) {
    std::string list;
    for (const Word& w : words) {
        if (!list.empty()) list += '|';
        list += w.word;
    }
    return list;
}

// ---------------------------------------------------------------------------
// The export text.

// The keys of a record, in the order they are written.
struct Key {
    std::string_view name;
    std::string store::WatchEntry::*text = nullptr;   // a text field, or
    std::int16_t store::WatchEntry::*mode = nullptr;  // a mode field with
    Words words;                                      // its words
};

const Key kKeys[] = {
    {"title", &store::WatchEntry::title, nullptr, {}},
    {"folder", &store::WatchEntry::folder, nullptr, {}},
    {"files", nullptr, &store::WatchEntry::fileMode, kFilesWords},
    {"pattern", &store::WatchEntry::pattern, nullptr, {}},
    {"on", nullptr, &store::WatchEntry::timing, kOnWords},
    {"message", nullptr, &store::WatchEntry::messageMode, kMessageWords},
    {"sound", nullptr, &store::WatchEntry::soundMode, kSoundWords},
    {"wave-file", &store::WatchEntry::waveFile, nullptr, {}},
    {"program", &store::WatchEntry::program, nullptr, {}},
    {"open-file", nullptr, &store::WatchEntry::openFile, kYesNoWords},
    {"wait", nullptr, &store::WatchEntry::waitExit, kYesNoWords},
    {"after", nullptr, &store::WatchEntry::afterMode, kAfterWords},
    {"move-to", &store::WatchEntry::moveTo, nullptr, {}},
    {"if-exists", nullptr, &store::WatchEntry::overwrite, kIfExistsWords},
};
constexpr std::string_view kRunningKey = "running";
constexpr std::string_view kRecordHeader = "[entry]";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Only a text that both starts and ends with a quote is read as quoted: a
// program line such as "C:\Program Files\x.exe" /q stays as typed.
bool LooksQuoted(std::string_view v) {
    return v.size() >= 2 && v.front() == '"' && v.back() == '"';
}

// A text is written as it is unless blanks at its ends or control
// characters would be lost or break the line: then it is quoted, with
// backslash escapes inside the quotes only (Windows paths stay readable).
std::string Quoted(std::string_view v) {
    bool plain = v.empty() || (!IsBlank(v.front()) && !IsBlank(v.back()) && !LooksQuoted(v));
    for (unsigned char c : v) {
        if (c < 0x20 || c == 0x7f) plain = false;
    }
    if (plain) return std::string(v);
    std::string out = "\"";
    for (unsigned char c : v) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02x", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + '"';
}

std::optional<std::string> Unquoted(std::string_view v) {
    if (!LooksQuoted(v)) return std::string(v);
    v = v.substr(1, v.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '"') return std::nullopt;
        if (v[i] != '\\') {
            out += v[i];
            continue;
        }
        if (++i == v.size()) return std::nullopt;
        switch (v[i]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'x': {
                unsigned value = 0;
                if (i + 2 >= v.size()) return std::nullopt;
                const auto [end, ec] =
                    std::from_chars(v.data() + i + 1, v.data() + i + 3, value, 16);
                if (ec != std::errc() || end != v.data() + i + 3) return std::nullopt;
                out += static_cast<char>(value);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string ExportText(const store::SettingsList& list) {
    std::string out =
        "# Tavren3 watch entries: one [entry] per entry, in list order.\n"
        "# Tavren3 監視設定: [entry] ごとに 1 件、一覧の順に並びます。\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const store::WatchEntry e = list.entry(i);
        out += '\n';
        out += kRecordHeader;
        out += '\n';
        out += std::string(kRunningKey) + " = " + (list.running(i) ? "yes" : "no") + '\n';
        for (const Key& k : kKeys) {
            const std::string value = k.text ? Quoted(e.*k.text) : WordOf(k.words, e.*k.mode);
            out += std::string(k.name) + (value.empty() ? " =" : " = " + value) + '\n';
        }
    }
    return out;
}

int EntryRecord::LineOf(std::string_view key) const {
    for (const auto& [name, at] : keyLines) {
        if (name == key) return at;
    }
    return line;
}

ImportParse ParseEntryText(std::string_view text, bool japanese) {
    const Lang L{japanese};
    ImportParse result;
    auto fail = [&](int line, const std::string& what) {
        result.records.clear();
        result.error =
            L(std::to_string(line) + " 行目: ", "line " + std::to_string(line) + ": ") + what;
        return result;
    };
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // Notepad's byte order mark
    const store::WatchEntry defaults = rules::EntryOf(rules::EntryValues{});
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line == kRecordHeader) {
            result.records.push_back({true, defaults, lineNo, {}});
            continue;
        }
        if (line.front() == '[') {
            return fail(lineNo, L("[entry] のほかの見出しは使えません: ",
                                  "only [entry] may head a record: ") +
                                    platform::OneLine(line));
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            return fail(lineNo,
                        L("「キー = 値」の形ではありません: ", "not a \"key = value\" line: ") +
                            platform::OneLine(line));
        }
        const std::string_view key = Trimmed(line.substr(0, eq));
        const std::string_view raw = Trimmed(line.substr(eq + 1));
        if (result.records.empty()) {
            return fail(lineNo,
                        L("[entry] より前にキーがあります: ", "a key before the first [entry]: ") +
                            platform::OneLine(key));
        }
        EntryRecord& record = result.records.back();
        for (const auto& given : record.keyLines) {
            if (given.first == key)
                return fail(lineNo, L("キーが重複しています: ", "key given twice: ") +
                                        platform::OneLine(key));
        }
        if (key == kRunningKey) {
            const auto v = ValueOf(kYesNoWords, raw, false);
            if (!v)
                return fail(lineNo,
                            platform::OneLine(key) + L(" は yes か no です", " takes yes or no"));
            record.running = *v != 0;
            record.keyLines.emplace_back(key, lineNo);
            continue;
        }
        const Key* found = nullptr;
        for (const Key& k : kKeys) {
            if (k.name == key) found = &k;
        }
        if (!found)
            return fail(lineNo, L("不明なキーです: ", "unknown key: ") + platform::OneLine(key));
        record.keyLines.emplace_back(key, lineNo);
        if (found->text) {
            auto value = Unquoted(raw);
            if (!value)
                return fail(lineNo, L("引用符の中が正しくありません: ", "bad quoted text: ") +
                                        platform::OneLine(raw));
            record.entry.*found->text = std::move(*value);
        } else {
            const auto v = ValueOf(found->words, raw, true);
            if (!v) {
                return fail(lineNo,
                            std::string(key) + L(" の値は ", " takes ") + WordList(found->words) +
                                L(" または数です: ", " or a number: ") + platform::OneLine(raw));
            }
            record.entry.*found->mode = *v;
        }
    }
    return result;
}

fs::path SettingsOpenMarker(const store::DataFolder& data) {
    return data.root() / "tavren3.settings-open";
}

// Without the marker (a read-only data folder) the settings still open: a
// command-line change then races them, as it would have anyway.
SettingsOpenMark::SettingsOpenMark(const store::DataFolder& data)
    : file_(SettingsOpenMarker(data)),
      made_(!platform::WriteFileAtomically(file_,
                                           std::to_string(platform::CurrentProcessId()) + '\n')) {}

SettingsOpenMark::~SettingsOpenMark() {
    std::error_code ec;
    if (made_) fs::remove(file_, ec);
}

namespace {

// ---------------------------------------------------------------------------
// Answers to the editor: messages on standard error; a question is answered
// yes by --create-folders, asked at a terminal, and otherwise taken as no.

class CommandPrompts final : public rules::Prompts {
public:
    CommandPrompts(std::string who, Lang lang, bool createFolders)
        : who_(std::move(who)), lang_(lang), createFolders_(createFolders) {}

    void Notice(std::string_view text) override {
        std::fprintf(stderr, "%s: %.*s\n", who_.c_str(), static_cast<int>(text.size()),
                     text.data());
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
// Options.

enum class Opt {
    DataDir,
    Help,
    CreateFolders,
    Title,
    Folder,
    Pattern,
    AllFiles,
    On,
    Message,
    NoMessage,
    Sound,
    WaveFile,
    Program,
    OpenFile,
    NoOpenFile,
    Wait,
    NoWait,
    MoveTo,
    NoMove,
    Replace,
    Rename,
};

struct KnownOption {
    std::string_view name;
    Opt opt;
    bool takesValue;
};

constexpr KnownOption kOptions[] = {
    {"--data-dir", Opt::DataDir, true},
    {"--help", Opt::Help, false},
    {"-h", Opt::Help, false},
    {"--create-folders", Opt::CreateFolders, false},
    {"--title", Opt::Title, true},
    {"--folder", Opt::Folder, true},
    {"--pattern", Opt::Pattern, true},
    {"--all-files", Opt::AllFiles, false},
    {"--on", Opt::On, true},
    {"--message", Opt::Message, false},
    {"--no-message", Opt::NoMessage, false},
    {"--sound", Opt::Sound, true},
    {"--wave-file", Opt::WaveFile, true},
    {"--program", Opt::Program, true},
    {"--open-file", Opt::OpenFile, false},
    {"--no-open-file", Opt::NoOpenFile, false},
    {"--wait", Opt::Wait, false},
    {"--no-wait", Opt::NoWait, false},
    {"--move-to", Opt::MoveTo, true},
    {"--no-move", Opt::NoMove, false},
    {"--replace", Opt::Replace, false},
    {"--rename", Opt::Rename, false},
};

// What a command line says of an entry; unset: left as it is.
struct EntryOptions {
    std::optional<std::string> title, folder, program, pattern, waveFile, moveTo;
    std::optional<int> openFile, waitExit, fileMode, timing, message, sound, afterMode, overwrite;
    bool allFiles = false;  // --all-files given

    bool noticePage() const { return message || sound || waveFile; }
    bool afterPage() const { return afterMode || moveTo || overwrite; }
};

enum class Command { List, Add, Change, Remove, Run, Stop, Export, Import };

struct CommandName {
    std::string_view name;
    Command command;
    bool editsEntry;     // takes the entry options
    int numbers;         // takes an entry number
    bool createFolders;  // takes --create-folders
};

constexpr CommandName kCommands[] = {
    {"list", Command::List, false, 0, false},     {"add", Command::Add, true, 0, true},
    {"change", Command::Change, true, 1, true},   {"remove", Command::Remove, false, 1, false},
    {"run", Command::Run, false, 1, false},       {"stop", Command::Stop, false, 1, false},
    {"export", Command::Export, false, 0, false}, {"import", Command::Import, false, 0, true},
};

struct Invocation {
    const CommandName* command = nullptr;
    std::optional<fs::path> dataDir;
    bool help = false;
    bool createFolders = false;
    EntryOptions entry;
    std::vector<std::string> operands;
};

// Parses the words after the subcommand; an error is the message to show.
std::string ParseOptions(std::span<const std::string> words, Invocation& inv, Lang L) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string_view word = words[i];
        if (word == "--") {
            for (++i; i < words.size(); ++i) inv.operands.push_back(words[i]);
            break;
        }
        if (!word.starts_with("-") || word == "-") {
            inv.operands.emplace_back(word);
            continue;
        }
        std::optional<std::string> value;
        if (const std::size_t eq = word.find('=');
            eq != std::string_view::npos && word.starts_with("--")) {
            value = std::string(word.substr(eq + 1));
            word = word.substr(0, eq);
        }
        const KnownOption* known = nullptr;
        for (const KnownOption& s : kOptions) {
            if (s.name == word) known = &s;
        }
        const bool allowed =
            known && (known->opt == Opt::DataDir || known->opt == Opt::Help ||
                      (known->opt == Opt::CreateFolders && inv.command->createFolders) ||
                      (known->opt > Opt::CreateFolders && inv.command->editsEntry));
        if (!allowed) return L("不明なオプションです: ", "unknown option: ") + std::string(word);
        if (known->takesValue && !value) {
            if (i + 1 >= words.size())
                return L("値がありません: ", "missing value: ") + std::string(word);
            value = words[++i];
        } else if (!known->takesValue && value) {
            return L("値はとりません: ", "takes no value: ") + std::string(word);
        }
        EntryOptions& e = inv.entry;
        auto word_of = [&](Words choices, std::optional<int>& into) -> std::string {
            const auto v = ValueOf(choices, *value, false);
            if (!v)
                return std::string(word) + L(" の値は ", " takes ") + WordList(choices) + ": " +
                       *value;
            into = *v;
            return {};
        };
        switch (known->opt) {
            case Opt::DataDir:
                inv.dataDir = platform::PathFromUtf8(*value);
                break;
            case Opt::Help:
                inv.help = true;
                break;
            case Opt::CreateFolders:
                inv.createFolders = true;
                break;
            case Opt::Title:
                e.title = value;
                break;
            case Opt::Folder:
                e.folder = value;
                break;
            case Opt::Pattern:
                e.pattern = value;
                e.fileMode = store::file_mode::kMatching;
                break;
            case Opt::AllFiles:
                e.fileMode = store::file_mode::kEveryFile;
                e.allFiles = true;
                break;
            case Opt::On:
                if (auto err = word_of(kOnWords, e.timing); !err.empty()) return err;
                break;
            case Opt::Message:
                e.message = 1;
                break;
            case Opt::NoMessage:
                e.message = 0;
                break;
            case Opt::Sound:
                if (auto err = word_of(kSoundWords, e.sound); !err.empty()) return err;
                break;
            case Opt::WaveFile:
                e.waveFile = value;
                break;
            case Opt::Program:
                e.program = value;
                break;
            case Opt::OpenFile:
                e.openFile = 1;
                break;
            case Opt::NoOpenFile:
                e.openFile = 0;
                break;
            case Opt::Wait:
                e.waitExit = 1;
                break;
            case Opt::NoWait:
                e.waitExit = 0;
                break;
            case Opt::MoveTo:
                e.moveTo = value;
                e.afterMode = store::after_mode::kMove;
                break;
            case Opt::NoMove:
                e.afterMode = store::after_mode::kNothing;
                break;
            case Opt::Replace:
                e.overwrite = 1;
                break;
            case Opt::Rename:
                e.overwrite = 0;
                break;
        }
    }
    const std::size_t wanted = static_cast<std::size_t>(inv.command->numbers) +
                               (inv.command->command == Command::Import ? 1 : 0);
    const std::size_t most = wanted + (inv.command->command == Command::Export ? 1 : 0);
    if (inv.operands.size() < wanted) {
        return inv.command->numbers ? L("番号がありません", "missing the entry number")
                                    : L("ファイルがありません", "missing the file");
    }
    if (inv.operands.size() > most)
        return L("余分な引数です: ", "extra argument: ") + inv.operands[most];
    return {};
}

// What the options ask that no dialog lets a user ask: both file choices at
// once, or a pattern holding a folder separator, which no file name matches.
std::string RefusedOptions(const EntryOptions& e, Lang L) {
    if (e.allFiles && e.pattern) {
        return L("--all-files と --pattern は同時に指定できません",
                 "--all-files and --pattern cannot be given together");
    }
    if (e.pattern && e.pattern->find_first_of("/\\") != std::string::npos) {
        return L("--pattern はファイル名のパターンです。/ や \\ は使えません: ",
                 "--pattern matches file names and cannot hold / or \\: ") +
               platform::OneLine(*e.pattern);
    }
    return {};
}

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

// A folder or file given relative to where the command runs is stored
// whole, as the choosers store it: a watcher started elsewhere would
// otherwise look in another place.
void MakeAbsolute(std::optional<std::string>& path) {
    if (!path || path->empty()) return;
    const fs::path p = platform::PathFromUtf8(*path);
    std::error_code ec;
    if (p.is_relative()) {
        const fs::path whole = fs::absolute(p, ec);
        if (!ec) *path = platform::PathToUtf8(whole.lexically_normal());
    }
}

EditResult Edit(int editMode, const rules::EntryValues& start, EntryOptions o,
                CommandPrompts& prompts) {
    MakeAbsolute(o.folder);
    MakeAbsolute(o.moveTo);
    MakeAbsolute(o.waveFile);
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
// then the editor with the record handed in as a change, its move page
// shown when the record moves files, and OK.
Outcome CheckRecord(const EntryRecord& record, rules::Prompts& prompts) {
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
    if (e.movesFiles()) {
        if (const Outcome o = editor.SwitchTo(2); !o.ok) return o;
    }
    return editor.Ok();
}

// ---------------------------------------------------------------------------
// The running watcher of the data folder.

struct Watcher {
    bool running = false;
    long pid = 0;  // 0: running, but its process id could not be read
};

// Whoever holds the lock watches with this folder. Taking the lock for a
// moment is the test; it is let go at once.
Watcher FindWatcher(const store::DataFolder& data) {
    long holder = 0;
    std::error_code ec;
    const auto lock = platform::LockFile(data.lockFile(), holder, ec);
    if (ec == std::errc::resource_unavailable_try_again) return {true, holder};
    return {};
}

// The tray program's settings, open on this folder, will write the whole
// file when they close. A marker left by a program that has ended does not
// count: its lock has gone with it.
std::optional<long> SettingsOpenBy(const store::DataFolder& data) {
    std::string text;
    if (platform::ReadFile(SettingsOpenMarker(data), text, 32)) return std::nullopt;
    long pid = 0;
    std::from_chars(text.data(), text.data() + text.size(), pid);
    const Watcher w = FindWatcher(data);
    if (!w.running || (w.pid != 0 && pid != 0 && w.pid != pid)) return std::nullopt;
    return w.pid != 0 ? w.pid : pid;
}

void TellWatcher(const store::DataFolder& data, Lang L) {
    const Watcher w = FindWatcher(data);
    if (!w.running) {
        std::printf(
            "%s\n",
            L("このデータフォルダで実行中の Tavren3 はありません。変更は次の起動から使われます。",
              "No Tavren3 is running on this data folder: the change takes effect when it starts.")
                .c_str());
        return;
    }
    const std::string who = L("実行中の Tavren3 (プロセス ", "the running Tavren3 (process ") +
                            (w.pid ? std::to_string(w.pid) : "?") + ")";
    switch (w.pid ? platform::AskToReload(w.pid) : platform::ReloadRequest::Failed) {
        case platform::ReloadRequest::Sent:
            std::printf("%s\n", (L("", "Told ") + who +
                                 L(" に設定の読み直しを伝えました。", " to reload the settings."))
                                    .c_str());
            break;
        case platform::ReloadRequest::Unsupported:
        case platform::ReloadRequest::Failed:
            std::printf(
                "%s\n",
                (L("", "Could not tell ") + who +
                 L(" に読み直しを伝えられません。変更を使うには Tavren3 を再起動してください。",
                   " to reload: restart Tavren3 to use the change."))
                    .c_str());
            break;
    }
}

// ---------------------------------------------------------------------------
// The list.

// Columns line up by the width a terminal gives each character: two for
// the wide East Asian ones (kanji, kana, full-width forms), one otherwise.
std::size_t DisplayWidth(std::string_view s) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += len;
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) ||
                          (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

std::string Actions(const store::WatchEntry& e, Lang L) {
    std::vector<std::string> parts;
    if (e.messageMode == store::message_mode::kRunNotice)
        parts.push_back(L("メッセージ", "message"));
    if (e.messageMode == store::message_mode::kAsIs)
        parts.push_back(L("メッセージ(そのまま)", "message as-is"));
    if (e.beeps()) parts.push_back(L("ビープ", "beep"));
    if (e.playsWave()) parts.push_back(L("WAV ", "wave ") + e.waveFile);
    if (e.openFile != 0) {
        parts.push_back(L("ファイルを開く", "open file"));
    } else if (!e.program.empty()) {
        parts.push_back(L("実行 ", "run ") + e.program +
                        (e.waitExit != 0 ? L(" (終了を待つ)", " (wait)") : ""));
    }
    if (e.movesFiles()) {
        parts.push_back(
            L("移動 ", "move to ") + e.moveTo +
            (e.overwrite != 0 ? L(" (上書き)", " (replace)") : L(" (別名)", " (rename)")));
    }
    std::string text;
    for (const std::string& p : parts) {
        if (!text.empty()) text += ", ";
        text += p;
    }
    return text.empty() ? "-" : text;
}

void PrintList(const store::SettingsList& list, Lang L) {
    if (list.empty()) {
        std::printf("%s\n", L("(監視設定はありません)", "(no watch entries)").c_str());
        return;
    }
    std::vector<std::vector<std::string>> rows = {
        {L("番号", "No."), L("状態", "State"), L("タイトル", "Title"), L("フォルダ", "Folder"),
         L("対象", "Files"), L("タイミング", "On"), L("処理", "Actions")}};
    for (std::size_t i = 0; i < list.size(); ++i) {
        const store::WatchEntry e = list.entry(i);
        rows.push_back(
            {std::to_string(i + 1),
             list.running(i) ? L("実行中", "running") : L("停止中", "stopped"), e.title, e.folder,
             e.usesPattern() ? e.pattern : "*",
             e.reactsToNames() ? L("作成・名前変更・削除", "names") : L("更新", "updates"),
             Actions(e, L)});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            row[c] = platform::OneLine(row[c]);
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - DisplayWidth(row[c]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

// ---------------------------------------------------------------------------
// The commands.

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
        if (command == Command::List || command == Command::Export) {
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
            default:
                return Change();
        }
    }

private:
    void Error(const std::string& text) { prompts_.Notice(text); }

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
    // of their own beside the watcher's. Where it cannot be made at all (a
    // read-only data folder) the save fails anyway.
    bool TakeTurn() {
        const fs::path file = data_->root() / "tavren3.edit.lock";
        for (int tries = 0; tries < 100; ++tries) {
            long holder = 0;
            std::error_code ec;
            turn_ = platform::LockFile(file, holder, ec);
            if (turn_ || ec != std::errc::resource_unavailable_try_again) return true;
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
                done = L("削除しました: ", "removed: ") + std::to_string(n + 1) + " " +
                       list.entry(n).title;
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
        if (done.empty() || inv_.command->command != Command::Remove) {
            done += std::to_string(n + 1) + " " + list.entry(n).title + " (" +
                    (list.running(n) ? L("実行中", "running") : L("停止中", "stopped")) + ")";
        }
        std::printf("%s\n", platform::OneLine(done).c_str());
        TellWatcher(*data_, L);
        return 0;
    }

    int Export() {
        store::SettingsList list;
        if (!Load(list)) return 1;
        const std::string text = ExportText(list);
        if (inv_.operands.empty() || inv_.operands.front() == "-") {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        const fs::path file = platform::PathFromUtf8(inv_.operands.front());
        if (const std::error_code ec = platform::WriteFileAtomically(file, text)) {
            Error(inv_.operands.front() + ": " + ec.message());
            return 1;
        }
        std::printf("%s\n",
                    (std::to_string(list.size()) +
                     L(" 件を書き出しました: ", " entries written to ") + inv_.operands.front())
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
        const ImportParse parsed = ParseEntryText(text, L.ja);
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
            const EntryRecord& record = parsed.records[i];
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

// Options of the whole program may come before the subcommand. The words
// after it, or nothing when the words name none.
std::optional<std::vector<std::string>> SplitAtCommand(std::span<const std::string> words,
                                                       Invocation& inv) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (inv.command) {
            rest.push_back(word);
            continue;
        }
        if (word == "--headless" || TakeDataDir(words, i, inv.dataDir)) continue;
        for (const CommandName& c : kCommands) {
            if (c.name == word) inv.command = &c;
        }
        if (!inv.command) return std::nullopt;
    }
    if (!inv.command) return std::nullopt;
    return rest;
}

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
