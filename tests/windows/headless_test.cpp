#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "platform/path_text.h"
#include "platform/win32/wide_text.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using test::U8;

// Tavren3.exe started with its standard output and error in a pipe that a
// thread of ours reads.
class Runner {
public:
    explicit Runner(const std::wstring& arguments)
        : Runner(L"\"" + (test::ProgramFolder() / L"../.." / TAVREN_PROGRAM).wstring() + L"\" " +
                     arguments,
                 nullptr, nullptr) {}

    // The command `line`, started in `folder` with `input` as its standard
    // input (none: no standard input).
    Runner(std::wstring line, const wchar_t* folder, HANDLE input) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!::CreatePipe(&read, &write, &inherit, 0)) return;
        ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        read_ = read;

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = write;
        startup.hStdError = write;
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder,
                             &startup, &info)) {
            process_ = info.hProcess;
            ::CloseHandle(info.hThread);
        }
        ::CloseHandle(write);  // the child's copy stays: the pipe ends when it does
        reader_ = std::thread([this] { Read(); });
    }

    ~Runner() {
        if (process_) {
            if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_, 9);
            ::WaitForSingleObject(process_, INFINITE);
        }
        if (reader_.joinable()) reader_.join();
        if (process_) ::CloseHandle(process_);
        if (read_) ::CloseHandle(read_);
    }

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return ::GetProcessId(process_); }

    // The exit status, or -1 when the program still runs after `limit`.
    long Wait(std::chrono::milliseconds limit = 10s) {
        if (::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return static_cast<long>(code);
    }

    bool OutputHas(std::string_view text, std::chrono::milliseconds limit = 10s) {
        return test::WaitUntil([&] { return Output().find(text) != std::string::npos; }, limit);
    }

    std::string Output() {
        std::lock_guard lock(mutex_);
        return output_;
    }

private:
    void Read() {
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(read_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            std::lock_guard lock(mutex_);
            output_.append(buffer, got);
        }
    }

    HANDLE read_ = nullptr;
    HANDLE process_ = nullptr;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
};

// Without --headless the program is the tray program (tray_test.cpp).
TEST(HeadlessRunner, PrintsItsVersionAndRefusesABadArgument) {
    Runner version(L"--version");
    ASSERT_TRUE(version.started());
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_TRUE(version.OutputHas("フォルダ監視 Tavren Version 3.02.4.25"));

    Runner wrong(L"--bogus");
    EXPECT_EQ(wrong.Wait(), 2);
    EXPECT_TRUE(wrong.OutputHas("--headless"));
}

// The whole road of a change on Windows: the settings file, the baseline
// snapshot, the change notification, the rescan and the notice as a line.
TEST(HeadlessRunner, ReportsANewFileAsALine) {
    TempDir tmp;
    const auto watched = tmp.path() / "watch";
    std::filesystem::create_directory(watched);
    const store::DataFolder data(tmp.path() / U8("データ"));
    ASSERT_TRUE(data.Prepare());

    store::WatchEntry entry;
    entry.timing = 1;
    entry.messageMode = 1;
    entry.title = "受信";
    entry.folder = platform::PathToUtf8(watched);
    store::SlotImage image = store::BlankSlotImage();
    ASSERT_TRUE(store::EncodeSlot({true, entry}, image));
    ASSERT_TRUE(store::WriteAllSlots(data.settingsFile(), {&image, 1}));

    Runner runner(L"--headless --data-dir \"" + data.root().wstring() + L"\"");
    ASSERT_TRUE(runner.started());
    // Watching has started once the baseline snapshot is there.
    ASSERT_TRUE(test::WaitUntil([&] { return std::filesystem::exists(data.snapshotFile(0)); }));
    ASSERT_TRUE(runner.OutputHas("1 件の監視を開始しました")) << runner.Output();

    test::WriteBytes(watched / U8("請求書.pdf"), "pdf");
    EXPECT_TRUE(runner.OutputHas("Tavren3: 請求書.pdfを実行します。")) << runner.Output();
}

// An entry added from the command line of Tavren3.exe beside a running
// watcher: the watcher is told through its reload event, and watches it.
TEST(HeadlessRunner, TakesAnEntryAddedFromTheCommandLine) {
    TempDir tmp;
    const auto watched = tmp.path() / "watch";
    std::filesystem::create_directory(watched);
    const store::DataFolder data(tmp.path() / U8("データ"));
    const std::wstring dataDir = L"--data-dir \"" + data.root().wstring() + L"\" ";
    Runner runner(L"--headless " + dataDir);
    ASSERT_TRUE(runner.OutputHas("0 件の監視を開始しました")) << runner.Output();

    Runner add(dataDir + L"add --title 受信 --message --folder \"" + watched.wstring() + L"\"");
    EXPECT_EQ(add.Wait(), 0) << add.Output();
    EXPECT_TRUE(add.OutputHas(std::to_string(runner.pid()) + ")")) << add.Output();
    ASSERT_TRUE(runner.OutputHas("1 件の監視を開始しました")) << runner.Output();
    test::WriteBytes(watched / U8("請求書.pdf"), "pdf");
    EXPECT_TRUE(runner.OutputHas("Tavren3: 請求書.pdfを実行します。")) << runner.Output();
}

// Two watchers of one data folder would both act on every file: the second
// refuses, naming the first, and a killed first leaves no stale lock.
TEST(HeadlessRunner, ASecondRunnerOnTheSameDataFolderRefuses) {
    TempDir tmp;
    const store::DataFolder data(tmp.path() / U8("データ"));
    const std::wstring arguments = L"--headless --data-dir \"" + data.root().wstring() + L"\"";
    {
        Runner first(arguments);
        ASSERT_TRUE(first.OutputHas("監視を開始しました")) << first.Output();
        Runner second(arguments);
        EXPECT_EQ(second.Wait(), 1);
        EXPECT_TRUE(second.OutputHas("は別の Tavren3 (プロセス " + std::to_string(first.pid()) +
                                     ") が使用中です。"))
            << second.Output();
    }  // the first is terminated here
    Runner third(arguments);
    EXPECT_TRUE(third.OutputHas("監視を開始しました")) << third.Output();
}

// Tavren3.com typed at cmd's prompt, which does not wait for a GUI
// program: cmd waits for it, so %ERRORLEVEL% is add's 1 when its folder
// question, read from the redirected input, is taken as no. Without a
// subcommand it starts Tavren3.exe with the same words.
TEST(ConsoleCompanion, CmdWaitsForItsStatusAndTheRestGoesToTheProgram) {
    TempDir tmp;
    const std::wstring folder = (test::ProgramFolder() / L"../..").wstring();
    const auto missing = tmp.path() / "missing";
    // From a file: Wine's cmd loses the lines after the first from a pipe.
    test::WriteBytes(
        tmp.path() / "typed.txt",
        platform::win32::Narrow(L"Tavren3 --data-dir \"" + tmp.path().wstring() +
                                L"\" add --title t --message --folder \"" + missing.wstring() +
                                L"\"\r\necho status=%ERRORLEVEL%\r\nexit\r\n"));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE typed = ::CreateFileW((tmp.path() / "typed.txt").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    Runner prompt(L"cmd", folder.c_str(), typed);
    ::CloseHandle(typed);
    EXPECT_EQ(prompt.Wait(60s), 0);
    EXPECT_TRUE(prompt.OutputHas("status=1")) << prompt.Output();
    EXPECT_FALSE(std::filesystem::exists(missing));

    Runner version(L"\"" + folder + L"\\Tavren3.com\" --version", nullptr, nullptr);
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_TRUE(version.OutputHas(" Version 3.02.4.25")) << version.Output();
}

}  // namespace
}  // namespace tavren
