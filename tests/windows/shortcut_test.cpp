#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/start_with_desktop.h"
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

// A shortcut: the running program, described as the folder watcher, with
// no arguments, shown normally.
TEST(StartupShortcut, CreatesReadsAndRemovesTheShortcut) {
    // Not in the Startup folder: the start setting's test works there.
    test::TempDir tmp;
    const std::filesystem::path link = tmp.path() / "Tavren.lnk";
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

constexpr const wchar_t* kSettingKey = L"Software\\QUORVALE\\Tavren3\\Tavren";

// The choice as stored in the registry; nullopt when there is none.
std::optional<DWORD> StoredChoice() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingKey, L"nStart", RRF_RT_REG_DWORD, nullptr,
                       &value, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

// Start at logon: the choice stored where it always was, and the shortcut
// passing this run's arguments so that the program reads them back whole.
TEST(StartSetting, StoresTheChoiceAndKeepsTheStartupShortcutInStep) {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingKey);
    StartSetting& setting = SystemStartSetting();
    EXPECT_EQ(setting.Read(), 0);
    const std::filesystem::path link = StartupShortcutPath("Tavren.lnk");
    ASSERT_FALSE(link.empty());

    const std::vector<std::vector<std::string>> argumentLists = {
        {},
        {"--data-dir", "C:\\My Data\\"},
        {"--data-dir", "D:\\a\\\"q\" \\\\b", ""},
        {"--data-dir", "C:\\データ"},
    };
    for (const auto& arguments : argumentLists) {
        SCOPED_TRACE(arguments.empty() ? "" : arguments[1]);
        SetStartArguments(arguments);
        setting.Apply(1);
        EXPECT_EQ(StoredChoice(), 1u);
        EXPECT_EQ(setting.Read(), 1);
        ShortcutInfo info;
        ASSERT_FALSE(ReadShortcut(link, info));
        EXPECT_TRUE(SamePath(info.target, CurrentExecutable())) << PathToUtf8(info.target);
        EXPECT_EQ(info.description, kDescription);
        EXPECT_EQ(info.showCommand, SW_SHOWNORMAL);
        std::vector<std::string> expected = {"p"};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(SplitCommandLine("p " + info.arguments), expected) << info.arguments;
    }
    SetStartArguments({});

    setting.Apply(0);
    EXPECT_EQ(StoredChoice(), 0u);
    EXPECT_FALSE(std::filesystem::exists(link));

    const DWORD stored = 5;  // other values are returned as stored
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingKey, L"nStart", REG_DWORD, &stored, sizeof stored);
    EXPECT_EQ(setting.Read(), 5);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingKey);
}

}  // namespace
}  // namespace tavren::platform
