#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/wake_event.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using test::U8;

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        // In a folder whose name needs quoting and has no ANSI form in most
        // code pages, so the wide calls and the quoting are both exercised.
        folder_ = tmp_.path() / U8("子 プログラム");
        std::filesystem::create_directory(folder_);
        child_ = folder_ / "child.exe";
        std::filesystem::copy_file(test::ProgramFolder() / TAVREN_TEST_CHILD, child_);
    }

    std::string Quoted(const std::filesystem::path& p) const {
        // Built by appending: "\"" + string trips GCC 12's -Wrestrict.
        std::string quoted(1, '"');
        quoted += PathToUtf8(p);
        quoted += '"';
        return quoted;
    }

    TempDir tmp_;
    std::filesystem::path folder_;
    std::filesystem::path child_;
    std::unique_ptr<ProcessLauncher> launcher_ = MakeProcessLauncher();
    WakeEvent stop_;
};

// Quoted, and unquoted with the space in the folder's name left for the
// system to resolve.
TEST_F(ProcessTest, RunAndWaitReturnsWhenTheProgramHasEnded) {
    const auto marker = tmp_.path() / U8("終了 印.txt");
    EXPECT_TRUE(launcher_->RunAndWait(Quoted(child_) + " sleep 300 " + Quoted(marker), stop_));
    EXPECT_TRUE(std::filesystem::exists(marker));
    const auto unquoted = tmp_ / "unquoted.txt";
    EXPECT_TRUE(
        launcher_->RunAndWait(PathToUtf8(child_) + " sleep 10 " + PathToUtf8(unquoted), stop_));
    EXPECT_TRUE(std::filesystem::exists(unquoted));
    // Its exit status is no failure, and is told with its pid.
    ProcessRun run;
    LaunchContext told;
    told.run = &run;
    EXPECT_TRUE(launcher_->RunAndWait(Quoted(child_) + " exit 7", stop_, told));
    EXPECT_GT(run.pid, 0);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 7);
}

TEST_F(ProcessTest, RunAndWaitOfAMissingProgramFailsAtOnce) {
    EXPECT_FALSE(launcher_->RunAndWait(Quoted(folder_ / "missing.exe") + " x", stop_));
    EXPECT_FALSE(launcher_->RunAndWait("", stop_));
    EXPECT_FALSE(launcher_->RunAndWait("   ", stop_));
}

TEST_F(ProcessTest, StopEndsTheWaitAndLeavesTheProgramRunning) {
    const auto marker = tmp_ / "late.txt";
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop_.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(launcher_->RunAndWait(Quoted(child_) + " sleep 1500 " + Quoted(marker), stop_));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1200ms);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(marker); }));
}

TEST_F(ProcessTest, ProgramOutputGoesToOurStandardError) {
    // Our standard output and error become pipes for the time of the run.
    HANDLE outRead, outWrite, errRead, errWrite;
    ASSERT_TRUE(::CreatePipe(&outRead, &outWrite, nullptr, 1 << 16));
    ASSERT_TRUE(::CreatePipe(&errRead, &errWrite, nullptr, 1 << 16));
    const HANDLE oldOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE oldErr = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, outWrite);
    ::SetStdHandle(STD_ERROR_HANDLE, errWrite);
    const bool ran = launcher_->RunAndWait(Quoted(child_) + " print marked-line", stop_);
    ::SetStdHandle(STD_OUTPUT_HANDLE, oldOut);
    ::SetStdHandle(STD_ERROR_HANDLE, oldErr);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    auto drain = [](HANDLE h) {
        std::string text;
        char buffer[256];
        DWORD got = 0;
        while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
            text.append(buffer, got);
        ::CloseHandle(h);
        return text;
    };
    const std::string out = drain(outRead);
    const std::string err = drain(errRead);
    EXPECT_TRUE(ran);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "marked-line");
}

TEST_F(ProcessTest, StartProgramRunsTheLineWithItsArguments) {
    const auto marker = tmp_.path() / U8("開始 印.txt");
    EXPECT_TRUE(launcher_->StartProgram(Quoted(child_) + " touch " + Quoted(marker)));
    EXPECT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(marker); }));
    EXPECT_FALSE(launcher_->StartProgram(Quoted(folder_ / U8("ない.exe"))));
    EXPECT_FALSE(launcher_->StartProgram(""));
}

// Placeholders' values arrive whole in their arguments, backslashes before
// a closing quote included, and the variables replace ours of that name.
TEST_F(ProcessTest, ProgramGetsItsFileWholeAndInItsEnvironment) {
    const auto out = tmp_.path() / "args.txt";
    LaunchContext context;
    context.values =
        PlaceholderValues{R"(C:\in dir\a b;$x '-q'.txt)", "a b;$x '-q'.txt", R"(C:\in dir\)"};
    context.environment = {{"TAVREN3_NAME", "名前 a"}};
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TAVREN3_NAME", L"ours"));
    ASSERT_TRUE(launcher_->RunAndWait(
        Quoted(child_) + " args " + Quoted(out) + R"( --in={file} "{folder}" {{x}})", stop_,
        context));
    ::SetEnvironmentVariableW(L"TAVREN3_NAME", nullptr);
    std::ifstream in(out, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "--in=C:\\in dir\\a b;$x '-q'.txt\nC:\\in dir\\\n{x}\n名前 a\n");
}

// A watched file that is a program is never run by opening it.
TEST_F(ProcessTest, OpenDocumentRefusesAProgramAndFailsOnAMissingFile) {
    EXPECT_EQ(launcher_->OpenDocument(child_), ProcessLauncher::OpenResult::Refused);
    EXPECT_EQ(launcher_->OpenDocument(folder_ / U8("ない.pdf")),
              ProcessLauncher::OpenResult::Failed);
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "child.exe.ran"));
}

}  // namespace
}  // namespace tavren::platform
