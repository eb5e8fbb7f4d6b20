#include "app/qt/help.h"

#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>

#include "gui/gui_support.h"
#include "support/temp_dir.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;

// トピックスの検索 from the icon's menu: a page that cannot be opened is told
// in a box, since a program started from the desktop has no terminal.
TEST(HelpTest, APageThatCannotBeOpenedIsToldInABox) {
    test::EnsureApp();
    const test::TempDir tmp;
    test::WriteBytes(tmp / "file", "");
    const struct {
        const char* why;
        fs::path cache;
        bool opens;
        const char* told;  // the start of the box's text; nullptr: no box
    } kCases[] = {
        {"opened", tmp / "cache", true, nullptr},
        {"nothing opens it", tmp / "cache", false,
         "ヘルプ ページを開けませんでした。ブラウザーで次のファイルを開いてください。\n"},
        {"no place to put it", tmp / "file" / "cache", true, "ヘルプ ページを "},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.why);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(QString::fromStdString(c.cache.string())));
        test::ScriptedPrompts prompts;
        ui::SetPromptBackend(&prompts);
        QUrl asked;
        testing::internal::CaptureStderr();
        // Told as the desktop's opener tells it: later, once it is done.
        const bool opened = OpenHelp([&](const QUrl& url, std::function<void(bool)> done) {
            asked = url;
            done(c.opens);
        });
        const std::string err = testing::internal::GetCapturedStderr();
        ui::SetPromptBackend(nullptr);

        EXPECT_EQ(opened, c.told == nullptr || c.opens == false);
        if (!c.told) {
            EXPECT_TRUE(prompts.notices.isEmpty());
            EXPECT_TRUE(QFile::exists(asked.toLocalFile())) << asked.toString().toStdString();
            continue;
        }
        ASSERT_EQ(prompts.notices.size(), 1);
        const std::string text = prompts.notices[0].toStdString();
        EXPECT_EQ(text.rfind(c.told, 0), 0u) << text;
        if (!c.opens) {
            EXPECT_NE(text.find(asked.toLocalFile().toStdString()), std::string::npos);
        }
        EXPECT_NE(err.find("tavren3: " + text.substr(0, text.find('\n'))), std::string::npos)
            << err;
    }
    qunsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace tavren::app
