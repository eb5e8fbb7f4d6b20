#include "store/settings_list.h"

namespace tavren::store {

Status SettingsList::Load(const std::filesystem::path& settingsFile) {
    const Status status = ReadAllSlots(settingsFile, slots_);
    if (!status) slots_.clear();
    return status;
}

Status SettingsList::Save(const std::filesystem::path& settingsFile) const {
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
