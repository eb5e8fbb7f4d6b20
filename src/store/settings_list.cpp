#include "store/settings_list.h"

#include <string>
#include <system_error>

#include "platform/fs.h"
#include "platform/path_text.h"
#include "store/message_language.h"

namespace tavren::store {

namespace {

// The old file is copied, not renamed, so that the settings file is there
// at every moment; an earlier copy is never replaced.
Status KeepCopy(const std::filesystem::path& settingsFile, std::filesystem::path& copy) {
    std::string bytes;
    std::error_code ec = platform::ReadFile(settingsFile, bytes);
    if (!ec) {
        for (int n = 1; n <= 100; ++n) {
            copy = settingsFile;
            copy += n == 1 ? ".damaged" : ".damaged-" + std::to_string(n);
            platform::DirEntry existing;
            if (!platform::StatFile(copy, existing)) continue;
            ec = platform::WriteFileAtomically(copy, bytes);
            if (!ec) return {};
            break;
        }
        if (!ec) ec = std::make_error_code(std::errc::file_exists);
    }
    copy.clear();
    return Status::Error(
        Say("設定ファイル ", "not saving, as no copy can be kept of the settings file ") +
        platform::PathToUtf8(settingsFile) + Say(" の写しを残せないため、保存しません: ", ": ") +
        ec.message());
}

}  // namespace

std::string DamagedSettingsNotice(const std::filesystem::path& settingsFile,
                                  std::uint64_t unreadBytes) {
    const std::string file = platform::PathToUtf8(settingsFile);
    const std::string bytes = std::to_string(unreadBytes);
    const std::string most = std::to_string(kMaxWatchEntries);
    return Say("設定ファイル " + file + " の " + bytes +
                   " バイトは監視設定として読めません (途中で切れているか、" + most +
                   " 件を超えています)。\n保存するときは、元のファイルを別の名前で残します。",
               bytes + " bytes of the settings file " + file +
                   " cannot be read as watch entries (cut short, or beyond " + most +
                   " entries).\nSaving keeps the old file under another name.");
}

std::string KeptCopyNotice(const std::filesystem::path& copy) {
    return Say("元の設定ファイルを " + platform::PathToUtf8(copy) + " として残しました。",
               "the old settings file was kept as " + platform::PathToUtf8(copy) + ".");
}

Status SettingsList::Load(const std::filesystem::path& settingsFile) {
    unreadBytes_ = 0;
    keptCopy_.clear();
    const Status status = ReadAllSlots(settingsFile, slots_);
    if (!status) {
        slots_.clear();
        return status;
    }
    const std::uint64_t read = slots_.size() * kSlotSize;
    platform::DirEntry file;
    if (!platform::StatFile(settingsFile, file) && file.size > read) {
        unreadBytes_ = file.size - read;
    }
    return status;
}

Status SettingsList::Save(const std::filesystem::path& settingsFile) {
    if (unreadBytes_ > 0) {
        if (Status s = KeepCopy(settingsFile, keptCopy_); !s) return s;
        unreadBytes_ = 0;
    }
    return WriteAllSlots(settingsFile, slots_);
}

Status SettingsList::Add(const WatchEntry& entry) {
    SlotImage image = BlankSlotImage();
    if (Status s = EncodeSlot(Slot{true, entry}, image); !s) return s;
    slots_.push_back(image);
    return {};
}

Status SettingsList::Replace(std::size_t i, const WatchEntry& entry) {
    return EncodeSlot(Slot{true, entry}, slots_.at(i));
}

void SettingsList::SetRunning(std::size_t i, bool running) {
    SlotImage& image = slots_.at(i);
    image.running[0] = running ? 1 : 0;
    image.running[1] = 0;
}

void SettingsList::Remove(std::size_t i) {
    slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(i));
}

}  // namespace tavren::store
