#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"

namespace tavren::platform {
namespace {

struct Case {
    const char* name;
    bool executable;
};

// By name alone: none of these files exists.
void ExpectKinds(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        const std::filesystem::path file = std::filesystem::path("no-such-folder") / c.name;
        EXPECT_EQ(IsExecutableKind(file), c.executable) << c.name;
    }
}

TEST(ExecutableKind, WindowsProgramKindsInAnyCase) {
    ExpectKinds({
        {"setup.exe", true},      {"SETUP.EXE", true}, {"run.Bat", true},  {"run.cmd", true},
        {"tool.com", true},       {"x.vbs", true},     {"x.vbe", true},    {"x.js", true},
        {"x.jse", true},          {"x.wsf", true},     {"x.wsh", true},    {"x.msc", true},
        {"saver.scr", true},      {"link.lnk", true},  {"old.pif", true},  {"pkg.msi", true},
        {"patch.msp", true},      {"panel.cpl", true}, {"app.hta", true},  {"app.jar", true},
        {"script.ps1", true},     {"keys.reg", true},  {"site.url", true}, {"x.application", true},
        {"x.appref-ms", true},    {"setup.inf", true}, {"x.gadget", true}, {"x.scf", true},
        {"report.pdf.exe", true},
    });
}

TEST(ExecutableKind, DocumentsAreNot) {
    ExpectKinds({
        {"report.pdf", false},
        {"notes.txt", false},
        {"photo.JPG", false},
        {"archive.zip", false},
        {"exe", false},
        {"setup.exe.pdf", false},
        {"README", false},
        {".exe.txt", false},
        {"x.exes", false},
        {"x.ex", false},
        {"テスト.txt", false},
        {"請求書.pdf", false},
    });
}

// Windows drops trailing dots and spaces from a name: "x.exe." is x.exe.
TEST(ExecutableKind, TrailingDotsAndSpacesDoNotHideTheKind) {
    ExpectKinds({{"setup.exe.", true},
                 {"setup.exe . .", true},
                 {"setup.exe ", true},
                 {"notes.txt.", false},
                 {"...", false}});
}

#ifndef _WIN32
// Desktops start these when asked to open them.
TEST(ExecutableKind, DesktopLaunchersOnLinux) {
    ExpectKinds({{"app.desktop", true},
                 {"App.AppImage", true},
                 {"installer.run", true},
                 {"app.desktop.txt", false}});
}
#endif

}  // namespace
}  // namespace tavren::platform
