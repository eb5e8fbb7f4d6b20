#include "store/settings_file.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/fs.h"
#include "platform/path_text.h"
#include "store/cp932.h"
#include "store/message_language.h"

namespace tavren::store {
namespace {

std::int16_t GetInt16(const char (&field)[2]) {
    const auto lo = static_cast<unsigned char>(field[0]);
    const auto hi = static_cast<unsigned char>(field[1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

void PutInt16(char (&field)[2], std::int16_t value) {
    const auto u = static_cast<std::uint16_t>(value);
    field[0] = static_cast<char>(u & 0xFF);
    field[1] = static_cast<char>(u >> 8);
}

template <std::size_t N>
std::string GetText(const char (&field)[N]) {
    return FromCp932(FieldText(field, N));
}

Status ReadSlots(const std::filesystem::path& file, std::string& bytes, bool& missing) {
    missing = false;
    if (auto ec = platform::ReadFileOrRetry(file, bytes, kMaxWatchEntries * kSlotSize)) {
        if (ec == std::errc::no_such_file_or_directory) {
            missing = true;
            return {};
        }
        // A FIFO, a device or a folder where the file belongs.
        if (ec == std::errc::invalid_argument || ec == std::errc::is_a_directory) {
            return Status::Error(
                Say("設定ファイル ", "cannot read the settings file ") +
                platform::PathToUtf8(file) +
                Say(" を読み込めません: 通常のファイルではありません。", ": not a regular file."));
        }
        return Status::Error(Say("設定ファイル ", "cannot read the settings file ") +
                             platform::PathToUtf8(file) + Say(" を読み込めません: ", ": ") +
                             ec.message());
    }
    return {};
}

}  // namespace

SlotImage BlankSlotImage() {
    SlotImage image;
    std::memset(&image, 0, sizeof image);
    return image;
}

bool IsRunning(const SlotImage& image) {
    return GetInt16(image.running) != 0;
}

Slot DecodeSlot(const SlotImage& image) {
    Slot slot;
    slot.running = IsRunning(image);
    WatchEntry& e = slot.entry;
    e.fileMode = GetInt16(image.fileMode);
    e.timing = GetInt16(image.timing);
    e.messageMode = GetInt16(image.messageMode);
    e.soundMode = GetInt16(image.soundMode);
    e.afterMode = GetInt16(image.afterMode);
    e.openFile = GetInt16(image.openFile);
    e.waitExit = GetInt16(image.waitExit);
    e.overwrite = GetInt16(image.overwrite);
    e.title = GetText(image.title);
    e.folder = GetText(image.folder);
    e.pattern = GetText(image.pattern);
    e.program = GetText(image.program);
    e.moveTo = GetText(image.moveTo);
    e.waveFile = GetText(image.waveFile);
    return slot;
}

Status EncodeSlot(const Slot& slot, SlotImage& image) {
    const WatchEntry& e = slot.entry;
    struct Text {
        const char* label;
        const char* labelEn;
        const std::string& utf8;
        char* field;
        std::size_t limit;
        bool namesAFile = true;
    };
    SlotImage out = image;
    const Text texts[] = {
        {"タイトル", "the title", e.title, out.title, kTitleMaxBytes, false},
        {"監視フォルダ", "the folder", e.folder, out.folder, kPathMaxBytes},
        {"ファイル名パターン", "the pattern", e.pattern, out.pattern, kPatternMaxBytes},
        {"プログラム", "the program", e.program, out.program, kPathMaxBytes},
        {"移動先フォルダ", "the destination", e.moveTo, out.moveTo, kPathMaxBytes},
        {"WAVファイル", "the WAV file", e.waveFile, out.waveFile, kPathMaxBytes},
    };
    for (const Text& t : texts) {
        const auto cp932 = ToCp932(t.utf8, /*allowLookAlikes=*/!t.namesAFile);
        if (!cp932) {
            return Status::Error(Say(t.label, t.labelEn) +
                                 Say(" に保存できない文字が含まれています: ",
                                     " holds a character that cannot be stored: ") +
                                 t.utf8);
        }
        StoreField(t.field, t.limit + 1, *cp932);
    }
    PutInt16(out.running, slot.running ? 1 : 0);
    PutInt16(out.fileMode, e.fileMode);
    PutInt16(out.timing, e.timing);
    PutInt16(out.messageMode, e.messageMode);
    PutInt16(out.soundMode, e.soundMode);
    PutInt16(out.afterMode, e.afterMode);
    PutInt16(out.openFile, e.openFile);
    PutInt16(out.waitExit, e.waitExit);
    PutInt16(out.overwrite, e.overwrite);
    image = out;
    return {};
}

std::vector<SlotImage> SplitSlots(std::string_view bytes) {
    std::vector<SlotImage> slots(std::min(bytes.size() / kSlotSize, kMaxWatchEntries));
    // An empty vector's data() may be null, which memcpy must never get.
    if (!slots.empty()) std::memcpy(slots.data(), bytes.data(), slots.size() * kSlotSize);
    return slots;
}

WatchTable DecodeWatchTable(std::string_view bytes) {
    WatchTable table;
    int number = 0;
    for (const SlotImage& image : SplitSlots(bytes)) {
        ++number;
        if (!IsRunning(image)) continue;
        table.entries.push_back(DecodeSlot(image).entry);
        table.numbers.push_back(number);
    }
    return table;
}

Status LoadWatchTable(const std::filesystem::path& settingsFile, WatchTable& table) {
    std::string bytes;
    bool missing = false;
    if (Status s = ReadSlots(settingsFile, bytes, missing); !s || missing) return s;
    table = DecodeWatchTable(bytes);
    return {};
}

Status ReadAllSlots(const std::filesystem::path& settingsFile, std::vector<SlotImage>& slots) {
    slots.clear();
    std::string bytes;
    bool missing = false;
    if (Status s = ReadSlots(settingsFile, bytes, missing); !s || missing) return s;
    slots = SplitSlots(bytes);
    return {};
}

Status WriteAllSlots(const std::filesystem::path& settingsFile, std::span<const SlotImage> slots) {
    std::string bytes(slots.size() * kSlotSize, '\0');
    if (!slots.empty()) std::memcpy(bytes.data(), slots.data(), bytes.size());
    if (auto ec = platform::WriteFileAtomically(settingsFile, bytes)) {
        return Status::Error(Say("設定ファイル ", "cannot save the settings file ") +
                             platform::PathToUtf8(settingsFile) + Say(" を保存できません: ", ": ") +
                             ec.message());
    }
    return {};
}

}  // namespace tavren::store
