#include "ui/rules/entry_text.h"

#include <charconv>
#include <cstdio>

#include "platform/output_line.h"
#include "ui/rules/entry_values.h"

namespace tavren::rules {

std::string WordOf(ModeWords words, std::int16_t value) {
    for (const ModeWord& w : words) {
        if (w.value == value) return std::string(w.word);
    }
    return std::to_string(value);
}

std::optional<std::int16_t> ValueOf(ModeWords words, std::string_view text, bool numbers) {
    for (const ModeWord& w : words) {
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

std::string WordList(ModeWords words) {
    std::string list;
    for (const ModeWord& w : words) {
        if (!list.empty()) list += '|';
        list += w.word;
    }
    return list;
}

namespace {

// The keys of a record, in the order they are written.
struct Key {
    std::string_view name;
    std::string store::WatchEntry::*text = nullptr;   // a text field, or
    std::int16_t store::WatchEntry::*mode = nullptr;  // a mode field with
    ModeWords words;                                  // its words
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

}  // namespace

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

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
    const auto L = [japanese](std::string_view ja, std::string_view en) {
        return std::string(japanese ? ja : en);
    };
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

}  // namespace tavren::rules
