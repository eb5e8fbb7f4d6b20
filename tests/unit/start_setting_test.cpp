#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/desktop_entry.h"
#include "platform/start_with_desktop.h"
#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

namespace fs = std::filesystem;
using xdg::AutostartIcon;
using xdg::DesktopExecValue;

// Each test with its own configuration folder, read from the environment.
class StartSettingTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1); }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        SetStartArguments({});
    }

    static std::vector<std::string> EntryLines() {
        std::vector<std::string> lines;
        std::string text = test::ReadBytes(xdg::AutostartFilePath());
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }
    static bool HasLine(const std::string& line) {
        const auto lines = EntryLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    const test::TempDir temp_;
    const fs::path config_ = temp_ / "config";
    StartSetting& setting_ = SystemStartSetting();
};

const fs::path kProgram = fs::read_symlink("/proc/self/exe");

bool HasTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What desktop-file-validate says against `entry`; empty when it is valid.
std::string Validate(const fs::path& entry) {
    FILE* out = ::popen(("desktop-file-validate '" + entry.string() + "' 2>&1").c_str(), "r");
    if (out == nullptr) return "desktop-file-validate did not start";
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) said += buffer;
    return ::pclose(out) == 0 && said.empty() ? std::string() : said + " ";
}

TEST(DesktopExecValueTest, QuotesAndEscapesWhatTheEntryRulesReserve) {
    EXPECT_EQ(DesktopExecValue({"/usr/bin/tavren3"}), "/usr/bin/tavren3");
    EXPECT_EQ(DesktopExecValue({"/opt/My Apps/tavren3"}), "\"/opt/My Apps/tavren3\"");
    // Inside quotes " ` $ and \ take a backslash, and the string escapes
    // double every backslash once more.
    EXPECT_EQ(DesktopExecValue({"/a\"b`c$d\\e"}), "\"/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e\"");
    EXPECT_EQ(DesktopExecValue({"/a/100%/t"}), "/a/100%%/t");
    EXPECT_EQ(DesktopExecValue({"/a\nb"}), "\"/a\\nb\"");
    EXPECT_EQ(DesktopExecValue({"/p", "", "x"}), "/p \"\" x");
}

TEST_F(StartSettingTest, FlagIsStoredFirstAndTheEntryFollowsIt) {
    const fs::path entry = config_ / "autostart" / "Tavren.desktop";
    EXPECT_EQ(setting_.Read(), 0);
    EXPECT_EQ(xdg::AutostartFilePath(), entry);
    setting_.Apply(1);
    EXPECT_EQ(setting_.Read(), 1);
    ASSERT_FALSE(EntryLines().empty());
    EXPECT_EQ(EntryLines().front(), "[Desktop Entry]");
    EXPECT_TRUE(HasLine("Type=Application"));
    EXPECT_TRUE(HasLine("Comment=フォルダ監視"));
    EXPECT_TRUE(HasLine("Exec=" + kProgram.string()));
    EXPECT_TRUE(HasLine("TryExec=" + kProgram.string()));

    test::WriteBytes(entry, "stale");
    setting_.Apply(1);
    EXPECT_EQ(EntryLines().front(), "[Desktop Entry]") << "an existing entry is replaced";

    setting_.Apply(0);
    EXPECT_EQ(setting_.Read(), 0);
    EXPECT_FALSE(fs::exists(entry));
    setting_.Apply(0);  // nothing to remove is fine

    // An autostart folder that cannot be made: silent, and the flag is kept.
    fs::remove(entry.parent_path());
    test::WriteBytes(entry.parent_path(), "not a folder");
    setting_.Apply(1);
    EXPECT_EQ(setting_.Read(), 1);
    EXPECT_FALSE(fs::exists(entry));
}

// The choice stays in the file where the Qt-based versions kept it, as Qt
// wrote it; what else that file holds is kept.
TEST_F(StartSettingTest, ChoiceIsReadAndStoredInTheSettingsFileKeepingTheRest) {
    const std::string kQtWritten =
        "[General]\nzz=3\n\n[Other]\nx%20y=\"a,b;é\"\n\n[Tavren]\nnStart=1\n";
    struct Case {
        const char* file;  // nullptr: no file
        int read;
        int apply;  // -1: none
        const char* after;
    };
    const Case cases[] = {
        {nullptr, 0, 1, "[Tavren]\nnStart=1\n"},
        {kQtWritten.c_str(), 1, 0,
         "[General]\nzz=3\n\n[Other]\nx%20y=\"a,b;é\"\n\n[Tavren]\nnStart=0\n"},
        {"[Tavren]\nnStart=5\n", 5, -1, "[Tavren]\nnStart=5\n"},
        {"[Tavren]\r\nnStart = \"7\" \r\n", 7, -1, nullptr},
        {"[Tavren]\nnStart=2 ; by hand\n[tavren]\nnStart=4\nnstart=6\n", 2, -1, nullptr},
        {"[Tavren]\nnStart=yes\n", 0, -1, nullptr},
        {"[General]\nx=1", 0, 1, "[General]\nx=1\n\n[Tavren]\nnStart=1\n"},
        {"[Tavren]\nother=2\n", 0, 1, "[Tavren]\nnStart=1\nother=2\n"},
    };
    const fs::path file = config_ / "QUORVALE" / "Tavren3.conf";
    EXPECT_EQ(xdg::SettingsFilePath(), file);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        fs::remove(file);
        if (c.file) {
            fs::create_directories(file.parent_path());
            test::WriteBytes(file, c.file);
        }
        EXPECT_EQ(setting_.Read(), c.read);
        if (c.apply >= 0) setting_.Apply(c.apply);
        if (c.after) {
            EXPECT_EQ(test::ReadBytes(file), c.after);
        }
    }
}

// The session must start the program with its data folder exactly as given,
// whatever characters the path holds.
TEST_F(StartSettingTest, EntryPassesTheDataFolderWholeAndIsValid) {
    if (!HasTool("desktop-file-validate")) {
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
    }
    // gio starts an entry the way GNOME's session does.
    const bool canLaunch = HasTool("gio");
    fs::create_directory(temp_ / "my $programs");
    const fs::path program = temp_ / "my $programs" / "echo args";
    const fs::path said = temp_ / "arguments";
    // Written aside and renamed, so that the test never reads half of it.
    test::WriteBytes(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >'" +
                                  said.string() + ".part' && mv '" + said.string() + ".part' '" +
                                  said.string() + "'\n");
    fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
    const fs::path entry = temp_ / "Tavren.desktop";

    for (const std::string dataDir :
         {"/srv/My Data/Tavren3", "/srv/\"quoted\" 'too'", "/srv/$HOME/d", "/srv/100%/d",
          "/srv/back\\slash `date`;|&", "/srv/データ"}) {
        SCOPED_TRACE(dataDir);
        test::WriteBytes(
            entry, xdg::AutostartEntryText({program.string(), "--data-dir", dataDir}, "tavren3"));
        EXPECT_EQ(Validate(entry), "");
        if (!canLaunch) continue;
        fs::remove(said);
        // What the program wrote tells whether it started, not gio's status.
        [[maybe_unused]] const int launched =
            std::system(("gio launch '" + entry.string() + "' >/dev/null 2>&1").c_str());
        for (int i = 0; i < 500 && test::ReadBytes(said).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(test::ReadBytes(said), "--data-dir\n" + dataDir + "\n");
    }
}

TEST_F(StartSettingTest, WrittenEntryCarriesTheStartArgumentsAndAnIcon) {
    SetStartArguments({"--data-dir", "/srv/My Data"});
    setting_.Apply(1);
    EXPECT_TRUE(HasLine("Exec=" + kProgram.string() + " --data-dir \"/srv/My Data\""))
        << test::ReadBytes(xdg::AutostartFilePath());
    EXPECT_TRUE(HasLine("Icon=" + AutostartIcon(kProgram.parent_path())));
    if (HasTool("desktop-file-validate")) {
        EXPECT_EQ(Validate(xdg::AutostartFilePath()), "");
    }
}

// An icon the desktop can find, for a program installed or run where built.
TEST(AutostartIconTest, IsANameTheDesktopFindsOrAFullPath) {
    const test::TempDir temp;
    const fs::path icon = "share/icons/hicolor/256x256/apps/tavren3.png";
    for (const char* prefix : {"usual", "own"}) {
        fs::create_directories((temp / prefix / icon).parent_path());
        fs::create_directories(temp / prefix / "bin");
        test::WriteBytes(temp / prefix / icon, "png");
    }
    fs::create_directories(temp / "build");
    test::WriteBytes(temp / "build" / "tavren3.png", "png");
    ::setenv("XDG_DATA_DIRS", ((temp / "usual" / "share").string() + ":/usr/share").c_str(), 1);

    EXPECT_EQ(AutostartIcon(temp / "usual" / "bin"), "tavren3");
    EXPECT_EQ(AutostartIcon(temp / "own" / "bin"), (temp / "own" / icon).string());
    EXPECT_EQ(AutostartIcon(temp / "build"), (temp / "build" / "tavren3.png").string());
    EXPECT_EQ(AutostartIcon(temp / "nowhere"), "tavren3");
    ::unsetenv("XDG_DATA_DIRS");
}

}  // namespace
}  // namespace tavren::platform
