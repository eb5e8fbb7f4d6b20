#include "app/entry_options.h"

#include <charconv>

#include "app/command_args.h"
#include "platform/output_line.h"
#include "platform/path_text.h"
#include "store/watch_entry.h"
#include "ui/rules/entry_text.h"

namespace tavren::app {
namespace {

using rules::ModeWords;
using rules::ValueOf;
using rules::WordList;

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
    Delete,
    NoMove,
    Replace,
    Rename,
    Follow,  // the log command's from here on
    Entry,
    Since,
    File,
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
    {"--delete", Opt::Delete, false},
    {"--no-move", Opt::NoMove, false},
    {"--replace", Opt::Replace, false},
    {"--rename", Opt::Rename, false},
    {"--follow", Opt::Follow, false},
    {"--entry", Opt::Entry, true},
    {"--since", Opt::Since, true},
    {"--file", Opt::File, true},
};

constexpr CommandName kCommands[] = {
    {"list", Command::List, false, 0, false},     {"add", Command::Add, true, 0, true},
    {"change", Command::Change, true, 1, true},   {"remove", Command::Remove, false, 1, false},
    {"run", Command::Run, false, 1, false},       {"stop", Command::Stop, false, 1, false},
    {"export", Command::Export, false, 0, false}, {"import", Command::Import, false, 0, true},
    {"log", Command::Log, false, 0, false},
};

// "2026-12-08", "2026-12-08T14:03" or "2026-12-08 14:03:05" as the log's
// times begin ("2026-12-08T14:03:05"); nullopt for anything else.
std::optional<std::string> SinceTime(std::string_view text) {
    static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd";
    static constexpr std::string_view kMidnight = "2000-01-01T00:00:00";
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
    std::string time(text);
    if (time.size() > 10 && time[10] == ' ') time[10] = 'T';
    for (std::size_t i = 0; i < time.size(); ++i) {
        const bool digit = time[i] >= '0' && time[i] <= '9';
        if (kForm[i] == 'd' ? !digit : time[i] != kForm[i]) return std::nullopt;
    }
    return time + std::string(kMidnight.substr(time.size()));
}

}  // namespace

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
                      (known->opt > Opt::CreateFolders && known->opt < Opt::Follow &&
                       inv.command->editsEntry) ||
                      (known->opt >= Opt::Follow && inv.command->command == Command::Log));
        if (!allowed) return L("不明なオプションです: ", "unknown option: ") + std::string(word);
        if (known->takesValue && !value) {
            if (i + 1 >= words.size()) return MissingValueText(word, L);
            value = words[++i];
        } else if (!known->takesValue && value) {
            return L("値はとりません: ", "takes no value: ") + std::string(word);
        }
        EntryOptions& e = inv.entry;
        auto word_of = [&](ModeWords choices, std::optional<int>& into) -> std::string {
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
                if (auto err = word_of(rules::kOnWords, e.timing); !err.empty()) return err;
                break;
            case Opt::Message:
                e.message = 1;
                break;
            case Opt::NoMessage:
                e.message = 0;
                break;
            case Opt::Sound:
                if (auto err = word_of(rules::kSoundWords, e.sound); !err.empty()) return err;
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
            case Opt::Delete:
                e.afterMode = store::after_mode::kDelete;
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
            case Opt::Follow:
                inv.log.follow = true;
                break;
            case Opt::Entry: {
                int n = 0;
                const auto [end, ec] =
                    std::from_chars(value->data(), value->data() + value->size(), n);
                if (ec != std::errc() || end != value->data() + value->size() || n < 1)
                    return L("--entry の値は 1 以上の番号です: ",
                             "--entry takes an entry number from 1: ") +
                           *value;
                inv.log.entry = n;
                break;
            }
            case Opt::Since:
                inv.log.since = SinceTime(*value);
                if (!inv.log.since)
                    return L("--since の値は YYYY-MM-DD か YYYY-MM-DDThh:mm[:ss] です: ",
                             "--since takes YYYY-MM-DD or YYYY-MM-DDThh:mm[:ss]: ") +
                           *value;
                break;
            case Opt::File:
                inv.log.file = value;
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

}  // namespace tavren::app
