#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
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

TEST_F(ProcessTest, RunAndWaitReturnsWhenTheProgramHasEnded) {
    const auto marker = tmp_.path() / U8("終了 印.txt");
    EXPECT_TRUE(launcher_->RunAndWait(Quoted(child_) + " sleep 300 " + Quoted(marker), stop_));
    EXPECT_TRUE(std::filesystem::exists(marker));
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

TEST_F(ProcessTest, OpenStartsAProgramWithoutWaiting) {
    EXPECT_TRUE(launcher_->Open(child_));
    // The child marks its start beside itself.
    EXPECT_TRUE(
        test::WaitUntil([&] { return std::filesystem::exists(folder_ / "child.exe.ran"); }));
}

TEST_F(ProcessTest, OpenOfAMissingFileFails) {
    EXPECT_FALSE(launcher_->Open(folder_ / U8("ない.exe")));
    EXPECT_FALSE(launcher_->Open(std::filesystem::path()));
}

}  // namespace
}  // namespace tavren::platform
