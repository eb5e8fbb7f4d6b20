#include "engine/actions.h"

#include <gtest/gtest.h>

#include "platform/wake_event.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::engine {
namespace {

using test::kSep;

using test::TempDir;

class ActionsTest : public ::testing::Test {
protected:
    ActionsTest() : fakes(watcher) {
        entry.folder = (dir / "watch").string();
        entry.moveTo = (dir / "dest").string();
        std::filesystem::create_directories(entry.folder);
        std::filesystem::create_directories(entry.moveTo);
    }

    Actions MakeActions() { return Actions(entry, services, cancel); }
    std::vector<std::string> Log() const { return fakes.log.Events(); }

    TempDir dir;
    test::NullChangeWatcher watcher;
    test::FakeServices fakes;
    Services services = fakes.services();
    platform::WakeEvent cancel;
    store::WatchEntry entry;
};

TEST_F(ActionsTest, NotifyUserPlaysTheSoundBeforeShowingTheMessage) {
    struct Case {
        std::int16_t soundMode, messageMode;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, 0, {}},
        {1, 0, {"beep"}},
        {2, 1, {"wave:/snd/ding.wav", "message:a.txtを実行します。"}},
        {0, 2, {"message:a.txt"}},
        {7, 5, {"message:a.txt"}},  // unknown sound: none; any other mode: the text as it is
    };
    for (const Case& c : cases) {
        fakes.log.Clear();
        entry.soundMode = c.soundMode;
        entry.waveFile = "/snd/ding.wav";
        MakeActions().NotifyUser("a.txt", c.messageMode);
        EXPECT_EQ(Log(), c.expected) << "sound " << c.soundMode << " message " << c.messageMode;
    }
}

TEST_F(ActionsTest, NothingIsAnnouncedOnceTheProgramIsEnding) {
    entry.soundMode = 1;
    cancel.Set();
    MakeActions().NotifyUser("a.txt", 1);
    EXPECT_TRUE(Log().empty());
}

TEST_F(ActionsTest, OpenTargetFileOpensThenPausesOneSecond) {
    MakeActions().OpenTargetFile("a b.txt");
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"open:" + entry.folder + kSep + "a b.txt", "sleep:1000"}));
}

TEST_F(ActionsTest, LaunchProgramUsesTheStoredLineAsItIs) {
    entry.program = "\"/opt/my tool/run\" --flag";
    entry.waitExit = 1;
    MakeActions().LaunchProgram("a.txt", FileEvent::New);
    entry.waitExit = 0;
    entry.program = "/usr/bin/convert --in place";  // arguments without waiting run too
    MakeActions().LaunchProgram("a.txt", FileEvent::New);
    entry.program.clear();
    MakeActions().LaunchProgram("a.txt", FileEvent::New);
    EXPECT_EQ(Log(), (std::vector<std::string>{"run:\"/opt/my tool/run\" --flag",
                                               "start:/usr/bin/convert --in place"}));
}

TEST_F(ActionsTest, PostProcessMovesOnlyWhenAskedTo) {
    test::WriteBytes(dir / "watch" / "a.txt", "a");
    for (int mode : {0, 1, 3}) {
        entry.afterMode = static_cast<std::int16_t>(mode);
        MakeActions().PostProcessFile("a.txt");
    }
    entry.afterMode = 2;
    entry.moveTo.clear();  // no destination: never into the working folder
    MakeActions().PostProcessFile("a.txt");
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "watch" / "a.txt"));
}

TEST_F(ActionsTest, PostProcessKeepsTheNameWhenFreeAndStampsItWhenTaken) {
    entry.afterMode = 2;
    test::WriteBytes(dir / "watch" / "report.txt", "new");
    MakeActions().PostProcessFile("report.txt");
    EXPECT_EQ(test::ReadBytes(dir / "dest" / "report.txt"), "new");

    test::WriteBytes(dir / "watch" / "report.txt", "newer");
    MakeActions().PostProcessFile("report.txt");
    EXPECT_EQ(test::ReadBytes(dir / "dest" / "report_261206150409.txt"), "newer");
    EXPECT_EQ(test::ReadBytes(dir / "dest" / "report.txt"), "new");

    // Later ones within the same second find the stamped name taken too
    // and get a counter after it; nothing is left behind or replaced.
    for (const char* expected : {"report_261206150409_2.txt", "report_261206150409_3.txt"}) {
        test::WriteBytes(dir / "watch" / "report.txt", expected);
        const Actions::MoveOutcome outcome = MakeActions().PostProcessFile("report.txt");
        EXPECT_EQ(outcome.kind, Actions::MoveOutcome::Moved);
        EXPECT_EQ(outcome.destination.filename(), expected);
        EXPECT_EQ(test::ReadBytes(dir / "dest" / expected), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "watch" / "report.txt"));
    EXPECT_EQ(test::ReadBytes(dir / "dest" / "report_261206150409.txt"), "newer");
}

TEST_F(ActionsTest, PostProcessWithOverwriteReplacesTheDestination) {
    entry.afterMode = 2;
    entry.overwrite = 1;
    test::WriteBytes(dir / "dest" / "a.txt", "old");
    test::WriteBytes(dir / "watch" / "a.txt", "new");
    MakeActions().PostProcessFile("a.txt");
    EXPECT_EQ(test::ReadBytes(dir / "dest" / "a.txt"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir / "watch" / "a.txt"));
    EXPECT_EQ(fakes.log.Matching("replace:").size(), 1u);
}

TEST(TimeStampedName, CutsAtTheFirstDot) {
    const platform::LocalTime t{2026, 12, 6, 15, 4, 9};
    EXPECT_EQ(TimeStampedName("report.txt", t), "report_261206150409.txt");
    EXPECT_EQ(TimeStampedName("archive.tar.gz", t), "archive_261206150409.tar.gz");
    EXPECT_EQ(TimeStampedName("README", t), "README_261206150409");
    EXPECT_EQ(TimeStampedName(".profile", t), "_261206150409.profile");
    EXPECT_EQ(TimeStampedName("a.verylongextension", t), "a_261206150409.verylongextension");
    EXPECT_EQ(TimeStampedName("x", {2031, 1, 2, 3, 4, 5}), "x_310102030405");
}

TEST(TimeStampedName, StaysAValidFileNameForLongNames) {
    const platform::LocalTime t{2026, 12, 6, 15, 4, 9};
    std::string base;
    for (int i = 0; i < 80; ++i) base += "あ";  // 240 bytes of UTF-8
    const std::string name = TimeStampedName(base + ".txt", t);
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.ends_with("_261206150409.txt"));
    EXPECT_EQ(name.size() % 3, (std::string("_261206150409.txt").size()) % 3);  // whole characters
}

}  // namespace
}  // namespace tavren::engine
