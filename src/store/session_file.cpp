#include "store/session_file.h"

#include <sstream>

#include "platform/fs.h"
#include "platform/path_text.h"
#include "store/message_language.h"

namespace tavren::store {
namespace {

constexpr std::string_view kHeader = "tavren3-session 1";
constexpr std::size_t kMaxBytes = 1 << 20;

std::filesystem::path SessionPath(const DataFolder& data) {
    return data.root() / "tavren3.session";
}

// Folders and patterns may hold any byte but NUL: hex keeps one slot a line.
std::string Hex(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2 + 1);
    out += '=';  // never empty, so the fields always split
    for (const char c : text) {
        out += digits[static_cast<unsigned char>(c) >> 4];
        out += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return out;
}

std::optional<std::string> Unhex(std::string_view field) {
    if (field.empty() || field.front() != '=' || field.size() % 2 != 1) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 1; i < field.size(); i += 2) {
        const int hi = value(field[i]);
        const int lo = value(field[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

Status CannotRead(const std::filesystem::path& file, const std::error_code& ec) {
    return Status::Error(Say("", "cannot read ") + platform::PathToUtf8(file) +
                         Say(" を読めません: ", ": ") + ec.message());
}

}  // namespace

Status WriteSession(const DataFolder& data, const std::vector<SessionSlot>& slots) {
    std::string text(kHeader);
    text += '\n';
    for (const SessionSlot& s : slots) {
        text += std::to_string(s.slot) + ' ' + std::to_string(s.fileMode) + ' ' + Hex(s.folder) +
                ' ' + Hex(s.pattern) + '\n';
    }
    if (auto ec = platform::WriteFileAtomically(SessionPath(data), text)) {
        return Status::Error(Say("", "cannot save ") + platform::PathToUtf8(SessionPath(data)) +
                             Say(" を保存できません: ", ": ") + ec.message());
    }
    return {};
}

std::optional<std::vector<SessionSlot>> ReadSession(const DataFolder& data, Status* failure) {
    std::string text;
    if (auto ec = platform::ReadFileOrRetry(SessionPath(data), text, kMaxBytes)) {
        if (!platform::Exists(SessionPath(data))) return std::nullopt;
        if (failure) *failure = CannotRead(SessionPath(data), ec);
        return std::vector<SessionSlot>{};  // there, but unreadable: unclean all the same
    }
    std::vector<SessionSlot> slots;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) return slots;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        SessionSlot s;
        std::string folder;
        std::string pattern;
        if (!(fields >> s.slot >> s.fileMode >> folder >> pattern)) continue;
        auto f = Unhex(folder);
        auto p = Unhex(pattern);
        if (!f || !p || s.slot < 0 || s.slot >= static_cast<int>(kMaxWatchEntries)) continue;
        s.folder = std::move(*f);
        s.pattern = std::move(*p);
        slots.push_back(std::move(s));
    }
    return slots;
}

void RemoveSession(const DataFolder& data) {
    platform::RemoveFile(SessionPath(data));
}

namespace {

constexpr std::string_view kPendingHeader = "tavren3-pending 1";
// A stop in the middle of a burst may leave many thousands of files.
constexpr std::size_t kMaxPendingBytes = std::size_t{64} << 20;

std::filesystem::path PendingPath(const DataFolder& data) {
    return data.root() / "tavren3.pending";
}

}  // namespace

Status WritePending(const DataFolder& data, const std::vector<PendingRecord>& records) {
    const std::filesystem::path path = PendingPath(data);
    if (records.empty()) {
        const std::error_code ec = platform::RemoveFile(path);
        if (!ec) return {};
        return Status::Error(Say("", "cannot remove ") + platform::PathToUtf8(path) +
                             Say(" を削除できません: ", ": ") + ec.message());
    }
    std::string text(kPendingHeader);
    text += '\n';
    for (const PendingRecord& r : records) {
        text += std::to_string(r.fileMode) + ' ' + Hex(r.folder) + ' ' + Hex(r.pattern) + ' ' +
                static_cast<char>(r.kind) + ' ' + Hex(r.name) + ' ' + std::to_string(r.volume) +
                ' ' + std::to_string(r.index) + '\n';
    }
    if (auto ec = platform::WriteFileAtomically(path, text)) {
        return Status::Error(Say("", "cannot save ") + platform::PathToUtf8(path) +
                             Say(" を保存できません: ", ": ") + ec.message());
    }
    return {};
}

std::vector<PendingRecord> ReadPending(const DataFolder& data, Status* failure) {
    std::vector<PendingRecord> records;
    std::string text;
    if (auto ec = platform::ReadFileOrRetry(PendingPath(data), text, kMaxPendingBytes)) {
        if (failure && ec != std::errc::no_such_file_or_directory)
            *failure = CannotRead(PendingPath(data), ec);
        return records;
    }
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kPendingHeader) return records;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        PendingRecord r;
        std::string folder, pattern, kind, name;
        if (!(fields >> r.fileMode >> folder >> pattern >> kind >> name >> r.volume >> r.index))
            continue;
        auto f = Unhex(folder);
        auto p = Unhex(pattern);
        auto n = Unhex(name);
        if (!f || !p || !n || n->empty() || kind.size() != 1 ||
            (kind[0] != 'a' && kind[0] != 'm')) {
            continue;
        }
        r.folder = std::move(*f);
        r.pattern = std::move(*p);
        r.name = std::move(*n);
        r.kind = static_cast<PendingRecord::Kind>(kind[0]);
        records.push_back(std::move(r));
    }
    return records;
}

}  // namespace tavren::store
