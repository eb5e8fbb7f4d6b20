#include <gtest/gtest.h>

#include "platform/startup_shortcut.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

constexpr const char* kDescription = "フォルダ監視";

bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b) {
    return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

TEST(StartupShortcut, LivesInTheUsersStartupFolder) {
    const std::filesystem::path link = StartupShortcutPath("Tavren.lnk");
    ASSERT_FALSE(link.empty());
    EXPECT_EQ(link.filename(), "Tavren.lnk");
    EXPECT_TRUE(std::filesystem::is_directory(link.parent_path()));   // created when missing
    EXPECT_TRUE(SamePath(link.parent_path().filename(), L"Startup"))  // "StartUp" under Wine
        << PathToUtf8(link);
}

// The start-with-Windows shortcut: the running program, described as the
// folder watcher, with no arguments, shown normally.
TEST(StartupShortcut, CreatesReadsAndRemovesTheShortcut) {
    const std::filesystem::path link = StartupShortcutPath("Tavren.lnk");
    ASSERT_FALSE(link.empty());
    const std::filesystem::path self = CurrentExecutable();
    ASSERT_TRUE(std::filesystem::exists(self));

    ASSERT_FALSE(CreateShortcut(link, self, kDescription));
    ShortcutInfo info;
    ASSERT_FALSE(ReadShortcut(link, info));
    EXPECT_TRUE(SamePath(info.target, self)) << PathToUtf8(info.target);
    EXPECT_EQ(info.description, kDescription);
    EXPECT_EQ(info.arguments, "");
    EXPECT_EQ(info.showCommand, SW_SHOWNORMAL);

    // Saving again replaces the shortcut.
    ASSERT_FALSE(CreateShortcut(link, self, kDescription));

    EXPECT_FALSE(RemoveShortcut(link));
    EXPECT_FALSE(std::filesystem::exists(link));
    EXPECT_FALSE(RemoveShortcut(link));  // already gone: no error
}

TEST(StartupShortcut, TargetWithJapaneseNameSurvives) {
    // Wine reads a shortcut's target back through the ANSI code page, which
    // loses what the code page lacks; Windows keeps the wide path as well.
    if (::GetACP() != 932) GTEST_SKIP() << "Wine keeps the target in the ANSI code page only";
    test::TempDir tmp;
    const auto target = tmp.path() / test::U8("監視 ツール.exe");
    test::WriteBytes(target, "MZ");
    const auto link = tmp.path() / test::U8("ショートカット.lnk");
    ASSERT_FALSE(CreateShortcut(link, target, kDescription));
    ShortcutInfo info;
    ASSERT_FALSE(ReadShortcut(link, info));
    EXPECT_TRUE(SamePath(info.target, target)) << PathToUtf8(info.target);
    EXPECT_TRUE(ReadShortcut(tmp.path() / "missing.lnk", info));
}

}  // namespace
}  // namespace tavren::platform
