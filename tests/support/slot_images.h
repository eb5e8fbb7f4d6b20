#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/settings_file.h"

namespace tavren::test {

// A settings-file slot titled `title`, watching "/watch/<title>" with the
// program "/bin/<title>". Its bytes after every terminator are 0xEE: the
// format leaves them undefined, and they must survive a save untouched.
inline store::SlotImage MakeSlot(const std::string& title, bool running) {
    store::SlotImage image;
    std::memset(&image, 0xEE, sizeof image);
    store::Slot slot{running, {}};
    slot.entry.title = title;
    slot.entry.folder = "/watch/" + title;
    slot.entry.program = "/bin/" + title;
    EXPECT_TRUE(store::EncodeSlot(slot, image).ok());
    return image;
}

// The settings file holding `images`, back to back.
inline std::string SlotBytes(const std::vector<store::SlotImage>& images) {
    return {reinterpret_cast<const char*>(images.data()), images.size() * store::kSlotSize};
}

}  // namespace tavren::test
