#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using test::WriteBytes;
namespace fs = std::filesystem;

// The first bytes tell a program whatever the file is called.
TEST(ExecutableKindByContent, ProgramsByTheirFirstBytes) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        mode_t mode;
        bool executable;
    };
    const Case cases[] = {
        {"elf.pdf",
         "\x7f"
         "ELF\x02\x01\x01",
         0644, true},
        {"pe.txt", "MZ\x90\x00", 0644, true},
        {"script.pdf", "#!/bin/sh\necho hi\n", 0755, true},
        {"group-script.odt", "#!/bin/sh\n", 0610, true},
        // A script nobody may run is text to show.
        {"script.txt", "#!/bin/sh\necho hi\n", 0644, false},
        {"marked.txt", "plain text\n", 0755, false},
        {"empty.pdf", "", 0755, false},
        {"short.pdf", "#", 0755, false},
        {"elf-late.pdf",
         "x\x7f"
         "ELF",
         0755, false},
    };
    for (const Case& c : cases) {
        const fs::path file = dir / c.name;
        WriteBytes(file, c.content);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        EXPECT_EQ(IsExecutableKind(file), c.executable) << c.name;
    }

    fs::copy_file("/bin/true", dir / "invoice.pdf");
    EXPECT_TRUE(IsExecutableKind(dir / "invoice.pdf"));
    // A link is judged by what it leads to.
    fs::create_symlink(dir / "invoice.pdf", dir / "link.txt");
    EXPECT_TRUE(IsExecutableKind(dir / "link.txt"));
    EXPECT_FALSE(IsExecutableKind(dir / "missing.txt"));
}

// Only regular files are read, and never with a wait.
TEST(ExecutableKindByContent, OtherFilesAreNotReadAndNeverBlock) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.txt").c_str(), 0755), 0);
    fs::create_directory(dir / "folder.d");
    auto judging = std::async(std::launch::async, [&] {
        return IsExecutableKind(dir / "pipe.txt") || IsExecutableKind(dir / "folder.d") ||
               IsExecutableKind("/dev/zero");
    });
    ASSERT_EQ(judging.wait_for(5s), std::future_status::ready) << "blocked";
    EXPECT_FALSE(judging.get());
    // The name still counts.
    ASSERT_EQ(::mkfifo((dir / "pipe.exe").c_str(), 0600), 0);
    EXPECT_TRUE(IsExecutableKind(dir / "pipe.exe"));
}

}  // namespace
}  // namespace tavren::platform
