#include "app/qt/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <filesystem>

#include "gui/gui_support.h"
#include "support/temp_dir.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

// Where the socket of `instance` is, as text that failures can show.
std::string Folder(const SingleInstance& instance) {
    return QFileInfo(instance.serverName()).path().toStdString();
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        fs::create_directory(tmp_ / "run");
        fs::permissions(tmp_ / "run", fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Q(runtime)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(Q(tmp_ / "cache")));
    }
    void TearDown() override {
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_CACHE_HOME");
    }

    test::TempDir tmp_;
    const fs::path runtime = tmp_ / "run";
    const fs::path privateCache = tmp_ / "cache" / "QUORVALE" / "Tavren3" / "instance";
    const QString name = QStringLiteral("tavren-test-%1").arg(QCoreApplication::applicationPid());
};

// Anyone can make a socket in the shared temporary folder; one there under
// the name the program used to take must not keep it from starting.
TEST_F(SingleInstanceTest, ASocketTakenInTheSharedTemporaryFolderDoesNotStopTheProgram) {
    QLocalServer squatter;
    ASSERT_TRUE(squatter.listen(name + QStringLiteral("-%1").arg(::getuid())));
    ASSERT_EQ(QFileInfo(squatter.fullServerName()).path(), QDir::tempPath());

    SingleInstance first(name);
    EXPECT_TRUE(first.Claim());
    EXPECT_EQ(Folder(first), runtime.string());
    SingleInstance second(name);
    EXPECT_FALSE(second.Claim()) << "the guard still works";
}

TEST_F(SingleInstanceTest, ARuntimeFolderThatIsNotTheUsersOwnIsPassedOver) {
    const struct {
        const char* why;
        std::optional<fs::perms> runtimeMode;  // none: XDG_RUNTIME_DIR unset
        const char* runtimeValue;
    } kCases[] = {
        {"open to others", fs::perms::owner_all | fs::perms::others_all, nullptr},
        {"others may enter", fs::perms::owner_all | fs::perms::group_exec, nullptr},
        {"unset", std::nullopt, nullptr},
        {"relative", fs::perms::owner_all, "run"},
    };
    for (const auto& c : kCases) {
        if (c.runtimeMode) {
            fs::permissions(runtime, *c.runtimeMode);
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
        }
        if (c.runtimeValue) qputenv("XDG_RUNTIME_DIR", c.runtimeValue);
        SingleInstance instance(name);
        EXPECT_EQ(Folder(instance), privateCache.string()) << c.why;
        EXPECT_EQ(fs::status(privateCache).permissions(), fs::perms::owner_all) << c.why;
        EXPECT_TRUE(instance.Claim()) << c.why;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Q(runtime)));
    }
    if (::geteuid() == 0) {
        fs::permissions(runtime, fs::perms::owner_all);
        ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0);
        EXPECT_EQ(Folder(SingleInstance(name)), privateCache.string()) << "another user's";
    }
}

}  // namespace
}  // namespace tavren::app
