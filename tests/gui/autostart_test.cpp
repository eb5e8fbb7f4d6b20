#include "ui/autostart.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
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

QString Q(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

// What desktop-file-validate says against `entry`; empty when it is valid.
std::string Validate(const QString& entry) {
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), {entry});
    if (!validator.waitForFinished(10000)) return "desktop-file-validate did not finish";
    const std::string said = validator.readAll().toStdString();
    return validator.exitCode() == 0 && said.empty() ? std::string() : said + " ";
}

// The session must start the program with its data folder exactly as given,
// whatever characters the path holds.
TEST(AutostartTest, EntryPassesTheDataFolderWholeAndIsValid) {
    if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty()) {
        GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is not installed";
    }
    // gio starts an entry the way GNOME's session does.
    const bool canLaunch = !QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty();
    test::EnsureApp();
    const test::TempDir temp;
    std::filesystem::create_directory(temp / "my $programs");
    const auto program = temp / "my $programs" / "echo args";
    const auto said = temp / "arguments";
    test::WriteBytes(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >'" +
                                  said.string() + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    const QString entry = Q(temp / "Tavren.desktop");

    for (const QString& dataDir :
         {QStringLiteral("/srv/My Data/Tavren3"), QStringLiteral("/srv/\"quoted\" 'too'"),
          QStringLiteral("/srv/$HOME/d"), QStringLiteral("/srv/100%/d"),
          QStringLiteral("/srv/back\\slash `date`;|&"), QStringLiteral("/srv/データ")}) {
        SCOPED_TRACE(dataDir.toStdString());
        test::WriteBytes(temp / "Tavren.desktop",
                         AutostartEntryText({Q(program), QStringLiteral("--data-dir"), dataDir},
                                            QStringLiteral("tavren3"))
                             .toStdString());
        EXPECT_EQ(Validate(entry), "");
        if (!canLaunch) continue;
        std::filesystem::remove(said);
        QProcess::execute(QStringLiteral("gio"), {QStringLiteral("launch"), entry});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !test::ReadBytes(said).empty(); }, 5000));
        EXPECT_EQ(test::ReadBytes(said), "--data-dir\n" + dataDir.toStdString() + "\n");
    }
}

TEST(AutostartTest, WrittenEntryCarriesTheStartArgumentsAndAnIcon) {
    test::EnsureApp();
    const test::TempDir temp;
    const QString config = Q(temp / "config");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    SetStartArguments({QStringLiteral("--data-dir"), QStringLiteral("/srv/My Data")});
    ApplyStartSetting(1);
    QFile file(AutostartFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    EXPECT_TRUE(lines.contains(QStringLiteral("Exec=%1 --data-dir \"/srv/My Data\"")
                                   .arg(QCoreApplication::applicationFilePath())))
        << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Icon=") +
                               AutostartIcon(QCoreApplication::applicationDirPath())));
    if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty()) {
        EXPECT_EQ(Validate(AutostartFilePath()), "");
    }
    SetStartArguments({});
    qunsetenv("XDG_CONFIG_HOME");
}

// An icon the desktop can find, for a program installed or run where built.
TEST(AutostartTest, IconIsANameTheDesktopFindsOrAFullPath) {
    test::EnsureApp();
    const test::TempDir temp;
    const std::filesystem::path icon = "share/icons/hicolor/256x256/apps/tavren3.png";
    for (const char* prefix : {"usual", "own"}) {
        std::filesystem::create_directories((temp / prefix / icon).parent_path());
        std::filesystem::create_directories(temp / prefix / "bin");
        test::WriteBytes(temp / prefix / icon, "png");
    }
    std::filesystem::create_directories(temp / "build");
    test::WriteBytes(temp / "build" / "tavren3.png", "png");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(Q(temp / "usual" / "share") + ":/usr/share"));

    EXPECT_EQ(AutostartIcon(Q(temp / "usual" / "bin")), "tavren3");
    EXPECT_EQ(AutostartIcon(Q(temp / "own" / "bin")), Q(temp / "own" / icon));
    EXPECT_EQ(AutostartIcon(Q(temp / "build")), Q(temp / "build" / "tavren3.png"));
    EXPECT_EQ(AutostartIcon(Q(temp / "nowhere")), "tavren3");
    qunsetenv("XDG_DATA_DIRS");
}

}  // namespace
}  // namespace tavren::ui
