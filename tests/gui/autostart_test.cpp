#include "ui/autostart.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <filesystem>

#include "gui/gui_support.h"
#include "support/temp_dir.h"

namespace tavren::ui {
namespace {

TEST(DesktopExecValueTest, QuotesAndEscapesWhatTheEntryRulesReserve) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/tavren3"), "/usr/bin/tavren3");
    EXPECT_EQ(DesktopExecValue("/opt/My Apps/tavren3"), "\"/opt/My Apps/tavren3\"");
    // Inside quotes " ` $ and \ take a backslash, and the string escapes
    // double every backslash once more.
    EXPECT_EQ(DesktopExecValue("/a\"b`c$d\\e"), "\"/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e\"");
    EXPECT_EQ(DesktopExecValue("/a/100%/t"), "/a/100%%/t");
    EXPECT_EQ(DesktopExecValue("/a\nb"), "\"/a\\nb\"");
}

TEST(AutostartTest, FlagIsStoredFirstAndTheEntryFollowsIt) {
    test::EnsureApp();
    const test::TempDir temp;
    const QString config = QString::fromStdString((temp / "config").string());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    const QString entry = config + "/autostart/Tavren.desktop";
    const auto entryLines = [&] {
        QFile file(entry);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n')
                                              : QStringList();
    };

    EXPECT_EQ(ReadStartSetting(), 0);
    EXPECT_EQ(AutostartFilePath(), entry);
    ApplyStartSetting(1);
    EXPECT_EQ(ReadStartSetting(), 1);
    const QStringList lines = entryLines();
    EXPECT_EQ(lines.value(0), "[Desktop Entry]");
    EXPECT_TRUE(lines.contains("Type=Application"));
    EXPECT_TRUE(lines.contains("Comment=フォルダ監視"));
    EXPECT_TRUE(lines.contains("Exec=" + QCoreApplication::applicationFilePath()));

    test::WriteBytes((temp / "config" / "autostart" / "Tavren.desktop"), "stale");
    ApplyStartSetting(1);
    EXPECT_EQ(entryLines().value(0), "[Desktop Entry]") << "an existing entry is replaced";

    ApplyStartSetting(0);
    EXPECT_EQ(ReadStartSetting(), 0);
    EXPECT_FALSE(QFile::exists(entry));
    ApplyStartSetting(0);  // nothing to remove is fine

    // An autostart folder that cannot be made: silent, and the flag is kept.
    std::filesystem::remove(temp / "config" / "autostart");
    test::WriteBytes(temp / "config" / "autostart", "not a folder");
    ApplyStartSetting(1);
    EXPECT_EQ(ReadStartSetting(), 1);
    EXPECT_FALSE(QFile::exists(entry));
    qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tavren::ui
