// The settings file under failing calls: after any failure it is the old
// file or the new one, whole, the failure is told, and no temporary file
// of ours is left once the data folder is opened again.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "faults/fault_driver.h"
#include "platform/fs.h"
#include "store/settings_file.h"
#include "support/temp_dir.h"

namespace tavren::faults {
namespace {

namespace fs = std::filesystem;

std::vector<store::SlotImage> Slots(int count, char mark) {
    std::vector<store::SlotImage> slots(static_cast<std::size_t>(count), store::BlankSlotImage());
    for (store::SlotImage& s : slots) s.title[0] = mark;
    return slots;
}

std::string Bytes(const std::vector<store::SlotImage>& slots) {
    return {reinterpret_cast<const char*>(slots.data()), slots.size() * sizeof(store::SlotImage)};
}

// What besides the settings file is in its folder.
std::vector<std::string> Strays(const fs::path& folder, const fs::path& keep) {
    std::vector<std::string> strays;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path() != keep) strays.push_back(e.path().filename().string());
    }
    return strays;
}

TEST(SettingsFaults, SaveLeavesTheOldFileOrTheNewOneWholeAndTellsEveryFailure) {
    const auto oldSlots = Slots(3, 'o');
    const auto newSlots = Slots(5, 'n');
    const PathOutcome outcome = RunEveryFault(
        "settings: save", [&](FaultRun& run) {
            std::vector<std::string> broken;
            test::TempDir dir;
            const fs::path file = dir / "dirinfo.dat";
            test::WriteBytes(file, Bytes(oldSlots));
            store::Status saved;
            {
                ScopedPlan plan(run.plan);
                saved = store::WriteAllSlots(file, newSlots);
            }
            const std::string now = test::ReadBytes(file);
            const bool isNew = now == Bytes(newSlots);
            if (now != Bytes(oldSlots) && !isNew) broken.push_back("the file is torn");
            if (!saved.ok() && isNew)
                broken.push_back("a save that took effect was reported failed");
            if (saved.ok() && !isNew) broken.push_back("a failed save was reported done");
            if (!saved.ok() && saved.message().empty()) broken.push_back("a failure told nothing");
            // What a start does with the data folder: interrupted writes go.
            platform::RemoveStaleTemporaryFiles(dir.path(), 0);
            for (const std::string& s : Strays(dir.path(), file)) broken.push_back("left " + s);
            return broken;
        },
        CommonFaults());
    EXPECT_GT(outcome.calls, 3);
    EXPECT_EQ(outcome.runs, outcome.failed);
}

}  // namespace
}  // namespace tavren::faults
