#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "store/settings_file.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::store {

// What the user is told when a settings file holds bytes the list cannot
// (SettingsList::unreadBytes), and where a save kept the old file.
std::string DamagedSettingsNotice(const std::filesystem::path& settingsFile,
                                  std::uint64_t unreadBytes);
std::string KeptCopyNotice(const std::filesystem::path& copy);

// Every slot of the settings file, running and stopped alike, as the user
// edits them before saving. Slots stay the bytes that were read until they
// are changed, so a save writes untouched ones back byte for byte.
class SettingsList {
public:
    // Reads the whole file; a missing one gives an empty list. An unreadable
    // one leaves the list empty and says why.
    Status Load(const std::filesystem::path& settingsFile);

    // Bytes of the file last loaded that are no slot of the list: a slot cut
    // short at the end, or slots past the last one the list can hold.
    // Saving the list alone would lose them, so the first save after such a
    // load keeps the old file under another name first.
    std::uint64_t unreadBytes() const { return unreadBytes_; }
    // What a save kept of a damaged file; empty when it kept nothing.
    const std::filesystem::path& keptCopy() const { return keptCopy_; }

    // Replaces the file with the list, through a temporary file: a failure
    // keeps the old file.
    Status Save(const std::filesystem::path& settingsFile);

    std::size_t size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    bool full() const { return slots_.size() >= kMaxWatchEntries; }

    bool running(std::size_t i) const { return IsRunning(slots_.at(i)); }
    WatchEntry entry(std::size_t i) const { return DecodeSlot(slots_.at(i)).entry; }

    // Appends `entry` as a running one. Fails, changing nothing, when a text
    // has no CP932 form (the message names the field).
    Status Add(const WatchEntry& entry);
    // Replaces entry `i`, which then runs, whatever it was before. Bytes
    // after each text's terminator stay as they were.
    Status Replace(std::size_t i, const WatchEntry& entry);
    void SetRunning(std::size_t i, bool running);
    void Remove(std::size_t i);

    std::span<const SlotImage> images() const { return slots_; }

private:
    std::vector<SlotImage> slots_;
    std::uint64_t unreadBytes_ = 0;
    std::filesystem::path keptCopy_;
};

}  // namespace tavren::store
