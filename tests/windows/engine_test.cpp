#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <span>
#include <thread>

#include "engine/rescan.h"
#include "engine/tavren_doc.h"
#include "platform/change_watcher.h"
#include "platform/path_text.h"
#include "platform/win32/win32_util.h"
#include "store/settings_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The engine over Windows' own change notifications: a watched folder that
// goes leaves its entry waiting, and when it is back the notification on
// its parent brings the entry back, with no deletion notice, the file that
// came with the folder acted on once and the one that was there before not
// acted on again.
struct FolderTrip {
    const char* name;
    bool deletes;  // the folder is deleted, not moved
    void (*away)(const fs::path& folder);
    void (*back)(const fs::path& folder);  // with new.txt in it
};
void PrintTo(const FolderTrip& trip, std::ostream* os) {
    *os << trip.name;
}

class EngineFolderTripTest : public ::testing::TestWithParam<FolderTrip> {};

TEST_P(EngineFolderTripTest, FolderThatGoesAndComesBackIsWatchedAgain) {
    test::TempDir dir;
    if (GetParam().deletes && test::DeletedFolderStaysWhileWatched(dir / "probe"))
        GTEST_SKIP() << test::kDeletedFolderStays;
    store::DataFolder data(dir / "data");
    ASSERT_TRUE(data.Prepare().ok());
    const fs::path folder = dir.path() / test::U8("受信");
    fs::create_directory(folder);
    test::WriteBytes(folder / "old.txt", "old");

    store::WatchEntry e;
    e.title = "受信";
    e.folder = platform::PathToUtf8(folder);
    e.timing = 1;
    e.messageMode = 1;
    e.openFile = 1;  // every file acted on is opened; deletions are always shown
    store::SlotImage image = store::BlankSlotImage();
    ASSERT_TRUE(store::EncodeSlot({true, e}, image).ok());
    ASSERT_TRUE(store::WriteAllSlots(data.settingsFile(), std::span(&image, 1)).ok());

    auto watcher = platform::MakeChangeWatcher();
    test::FakeServices fakes(*watcher);
    fakes.clock.AdvanceOnEveryReading();  // no debounce
    fakes.clock.sleepForReal = true;      // the settle before deletions is real
    auto doc = std::make_unique<CTavrenDoc>(data, fakes.services());

    GetParam().away(folder);
    ASSERT_TRUE(fakes.log.WaitFor("status:0:waiting", 1));
    EXPECT_EQ(doc->statuses()[0].mode, WatchMode::Waiting);
    GetParam().back(folder);
    ASSERT_TRUE(fakes.log.WaitFor("open:", 1));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fakes.log.Matching("open:"),
              std::vector<std::string>{"open:" + e.folder + test::kSep + "new.txt"});
    EXPECT_TRUE(fakes.log.Matching("message:" + e.folder).empty()) << "no deletion";
    EXPECT_EQ(doc->statuses()[0].mode, WatchMode::Notified);
    EXPECT_TRUE(doc->Shutdown(2s));
}

INSTANTIATE_TEST_SUITE_P(
    Trips, EngineFolderTripTest,
    ::testing::Values(FolderTrip{"deleted_and_made_again", true,
                                 [](const fs::path& f) { fs::remove_all(f); },
                                 [](const fs::path& f) {
                                     fs::create_directory(f);
                                     test::WriteBytes(f / "new.txt", "new");
                                 }},
                      FolderTrip{"renamed_away_and_back", false,
                                 [](const fs::path& f) { fs::rename(f, f.parent_path() / "away"); },
                                 [](const fs::path& f) {
                                     test::WriteBytes(f.parent_path() / "away" / "new.txt", "new");
                                     fs::rename(f.parent_path() / "away", f);
                                 }}),
    [](const auto& param) { return std::string(param.param.name); });

// Windows' errors for a share, server or drive that does not answer leave
// the entry waiting for its folder, not taking it for missing (whose files
// would all be new when it comes); the reason is in the system's words, as
// UTF-8 like all of the program's text.
TEST(EngineOnWindows, SharesAndDrivesOutOfReachAreNoMissingFolders) {
    struct Case {
        DWORD code;
        const char* reason;  // how it begins; empty: the folder is not away
    };
    for (const auto& [code, expected] : {
             Case{ERROR_PATH_NOT_FOUND, "フォルダがありません"},
             Case{ERROR_BAD_NETPATH, "フォルダに届きません ("},
             Case{ERROR_BAD_NET_NAME, "フォルダに届きません ("},
             Case{ERROR_NETNAME_DELETED, "フォルダに届きません ("},
             Case{ERROR_NOT_READY, "フォルダに届きません ("},
             Case{ERROR_SEM_TIMEOUT, "フォルダに届きません ("},
             Case{ERROR_ACCESS_DENIED, ""},
         }) {
        const std::string reason = AwayReason(platform::win32::ErrorFrom(code));
        EXPECT_TRUE(reason.starts_with(expected) && (*expected || reason.empty()))
            << code << ": " << reason;
        EXPECT_TRUE(reason.empty() ||
                    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reason.data(),
                                          static_cast<int>(reason.size()), nullptr, 0) > 0)
            << code;
    }
}

}  // namespace
}  // namespace tavren::engine
