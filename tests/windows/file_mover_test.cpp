#include "platform/file_mover.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <vector>

#include "engine/actions.h"
#include "platform/fs.h"
#include "platform/path_text.h"
#include "platform/wake_event.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::U8;
using test::WriteBytes;

// Another process that holds files open for writing, as a program still
// writing them would, until the object goes; see hold.cpp for `arguments`.
class Writer {
public:
    explicit Writer(const std::vector<std::wstring>& arguments) {
        std::wstring line = L"\"" + (test::ProgramFolder() / TAVREN_TEST_HOLD).wstring() + L"\"";
        for (const auto& argument : arguments) line += L" \"" + argument + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info)) {
            ::CloseHandle(info.hThread);
            process_ = info.hProcess;
        }
    }
    ~Writer() {
        if (process_ == nullptr) return;
        ::TerminateProcess(process_, 0);
        ::WaitForSingleObject(process_, INFINITE);
        ::CloseHandle(process_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    DWORD pid() const { return ::GetProcessId(process_); }

private:
    HANDLE process_ = nullptr;
};

class FileMoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(from_);
        std::filesystem::create_directory(to_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!other_.empty()) std::filesystem::remove_all(other_, ec);
    }

    // A folder on another drive: under Wine, Z:\dev\shm is a memory file
    // system and the temporary folder lies on the disk, so a move between
    // them is a move to another drive, which the mover copies by hand.
    // Empty when there is none.
    std::filesystem::path OtherDrive() {
        const std::filesystem::path shm = L"Z:\\dev\\shm";
        if (::GetFileAttributesW(shm.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
        other_ = shm / (L"tavren-mover-" + std::to_wstring(::GetCurrentProcessId()));
        std::filesystem::create_directory(other_);
        return other_;
    }

    TempDir tmp_;
    std::filesystem::path other_;
    std::filesystem::path from_ = tmp_.path() / U8("監視");
    std::filesystem::path to_ = tmp_.path() / U8("処理済み");
    std::unique_ptr<FileMover> mover_ = MakeFileMover();
    const WakeEvent never_;
};

TEST_F(FileMoverTest, MovesToAFreeName) {
    WriteBytes(from_ / U8("請求書.pdf"), "pdf");
    EXPECT_FALSE(mover_->Move(from_ / U8("請求書.pdf"), to_ / U8("請求書.pdf"), false, never_));
    EXPECT_FALSE(mover_->Exists(from_ / U8("請求書.pdf")));
    EXPECT_EQ(ReadBytes(to_ / U8("請求書.pdf")), "pdf");
}

// MoveFile refuses a taken name; both files stay as they were.
TEST_F(FileMoverTest, RefusesATakenNameWithoutReplace) {
    WriteBytes(from_ / "a.txt", "new");
    WriteBytes(to_ / "a.txt", "old");
    EXPECT_EQ(mover_->Move(from_ / "a.txt", to_ / "a.txt", false, never_), std::errc::file_exists);
    EXPECT_EQ(ReadBytes(from_ / "a.txt"), "new");
    EXPECT_EQ(ReadBytes(to_ / "a.txt"), "old");
    // Names that differ only in case are the same name here.
    EXPECT_EQ(mover_->Move(from_ / "a.txt", to_ / "A.TXT", false, never_), std::errc::file_exists);
}

TEST_F(FileMoverTest, ReplacesATakenNameWhenAskedTo) {
    WriteBytes(from_ / "a.txt", "new");
    WriteBytes(to_ / "a.txt", "old");
    EXPECT_FALSE(mover_->Move(from_ / "a.txt", to_ / "a.txt", true, never_));
    EXPECT_FALSE(mover_->Exists(from_ / "a.txt"));
    EXPECT_EQ(ReadBytes(to_ / "a.txt"), "new");
}

TEST_F(FileMoverTest, FailureLeavesTheSourceInPlace) {
    WriteBytes(from_ / "a.txt", "data");
    EXPECT_EQ(mover_->Move(from_ / "a.txt", tmp_ / "missing" / "a.txt", false, never_),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(mover_->Move(from_ / "gone.txt", to_ / "gone.txt", true, never_),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadBytes(from_ / "a.txt"), "data");

    // A file that another program holds open without sharing stays.
    const HANDLE held = ::CreateFileW((from_ / "a.txt").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(mover_->Move(from_ / "a.txt", to_ / "a.txt", false, never_));
    ::CloseHandle(held);
    EXPECT_EQ(ReadBytes(from_ / "a.txt"), "data");
    EXPECT_FALSE(mover_->Exists(to_ / "a.txt"));
}

TEST_F(FileMoverTest, MoveToAnotherDriveCopiesWholeAndLeavesNoTemporary) {
    const std::filesystem::path other = OtherDrive();
    if (other.empty()) GTEST_SKIP() << "no memory file system to move from";
    std::string content(3 << 20, '\0');  // more than one copy buffer
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    const std::filesystem::path source = other / U8("請求書.pdf");
    WriteBytes(source, content);
    FILETIME written{};
    {
        const HANDLE h = ::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ::GetFileTime(h, nullptr, nullptr, &written);
        ::CloseHandle(h);
    }

    ASSERT_FALSE(mover_->Move(source, to_ / U8("請求書.pdf"), false, never_));
    EXPECT_FALSE(mover_->Exists(source));
    EXPECT_EQ(ReadBytes(to_ / U8("請求書.pdf")), content);
    // Nothing but the moved file in the destination: no temporary copy.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(to_)) {
        ++files;
        EXPECT_EQ(e.path().filename(), U8("請求書.pdf"));
    }
    EXPECT_EQ(files, 1);
    const HANDLE h = ::CreateFileW((to_ / U8("請求書.pdf")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME moved{};
    ::GetFileTime(h, nullptr, nullptr, &moved);
    ::CloseHandle(h);
    EXPECT_EQ(::CompareFileTime(&written, &moved), 0);

    // A taken name is refused unless replacing, and replacing leaves one file.
    WriteBytes(source, "second");
    EXPECT_EQ(mover_->Move(source, to_ / U8("請求書.pdf"), false, never_), std::errc::file_exists);
    EXPECT_FALSE(mover_->Move(source, to_ / U8("請求書.pdf"), true, never_));
    EXPECT_EQ(ReadBytes(to_ / U8("請求書.pdf")), "second");
}

// A copy to another drive cancelled half-way stops and leaves the source;
// its temporary copy, which RemoveLeftovers keeps while the move runs, goes
// with it. RemoveLeftovers takes the copy of a process that has ended.
TEST_F(FileMoverTest, CancelledCopyAndLeftovers) {
    using namespace std::chrono_literals;
    const std::filesystem::path other = OtherDrive();
    if (other.empty()) GTEST_SKIP() << "no memory file system to move from";
    const std::filesystem::path source = other / "big.bin";
    std::ofstream(source, std::ios::binary) << std::string(256 << 20, 'x');
    WakeEvent cancel;
    auto moving = std::async(std::launch::async,
                             [&] { return mover_->Move(source, to_ / "big.bin", false, cancel); });
    ASSERT_TRUE(test::WaitUntil([&] { return !std::filesystem::is_empty(to_); }));
    const std::string copy = std::filesystem::directory_iterator(to_)->path().filename().string();
    EXPECT_EQ(copy.rfind(".tavren-move-" + std::to_string(::GetCurrentProcessId()) + "-", 0), 0u)
        << copy;
    EXPECT_TRUE(mover_->RemoveLeftovers(to_).empty());
    cancel.Set();
    ASSERT_EQ(moving.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(moving.get(), std::errc::operation_canceled);
    EXPECT_EQ(std::filesystem::file_size(source), 256u << 20);
    EXPECT_TRUE(std::filesystem::is_empty(to_));

    DWORD ended = 0;
    {
        const Writer gone({});  // ended as it goes
        ended = gone.pid();
    }
    const std::string left = ".tavren-move-" + std::to_string(ended) + "-a1B2c3";
    WriteBytes(to_ / left, "x");
    EXPECT_EQ(mover_->RemoveLeftovers(to_), std::vector{to_ / left});
}

// A file that another process still writes is neither moved nor removed,
// on the same drive or across drives, and nothing is left at the
// destination; once the writer has ended, the move goes through. The
// writer across drives shares everything, so only our own share mode
// keeps it out.
TEST_F(FileMoverTest, AFileStillBeingWrittenWaitsForItsWriter) {
    const std::filesystem::path other = OtherDrive();
    if (other.empty()) GTEST_SKIP() << "no memory file system to move from";
    const auto same = from_ / U8("書きかけ.pdf");
    const auto across = other / U8("書きかけ.pdf");
    WriteBytes(same, "same drive");
    WriteBytes(across, "across drives");
    {
        const Writer writer({same.wstring(), L"-s", across.wstring()});
        ASSERT_TRUE(test::WaitUntil([&] {
            return ProbeWriters(same) == WriterState::Writing &&
                   ProbeWriters(across) == WriterState::Writing;
        }));
        EXPECT_EQ(mover_->Move(same, to_ / "same.pdf", false, never_),
                  std::errc::device_or_resource_busy);
        EXPECT_EQ(mover_->Move(across, to_ / "across.pdf", true, never_),
                  std::errc::device_or_resource_busy);
        EXPECT_EQ(ReadBytes(same), "same drive");
        EXPECT_EQ(ReadBytes(across), "across drives");
        EXPECT_TRUE(std::filesystem::is_empty(to_));
    }
    EXPECT_TRUE(test::WaitUntil([&] { return ProbeWriters(across) == WriterState::None; }));
    EXPECT_FALSE(mover_->Move(same, to_ / "same.pdf", false, never_));
    EXPECT_FALSE(mover_->Move(across, to_ / "across.pdf", true, never_));
    EXPECT_EQ(ReadBytes(to_ / "across.pdf"), "across drives");
    EXPECT_FALSE(mover_->Exists(across));
}

// The engine keeps folders and names as UTF-8 text; the paths it builds
// from them must name the same Japanese folders and files here as on Linux.
TEST_F(FileMoverTest, EngineMovesAFileBetweenJapaneseFolders) {
    WriteBytes(from_ / U8("請求書.pdf"), "pdf");
    WriteBytes(to_ / U8("見積書.pdf"), "old");
    WriteBytes(from_ / U8("見積書.pdf"), "new");
    store::WatchEntry entry;
    entry.folder = PathToUtf8(from_);
    entry.moveTo = PathToUtf8(to_);
    entry.afterMode = 2;
    test::NullChangeWatcher watcher;
    test::FakeServices fakes(watcher);
    const engine::Services services{fakes.clock, watcher,     fakes.launcher,
                                    *mover_,     fakes.sound, fakes.sink};
    const WakeEvent cancel;
    engine::Actions actions(entry, services, cancel);

    actions.PostProcessFile("請求書.pdf");
    EXPECT_EQ(ReadBytes(to_ / U8("請求書.pdf")), "pdf");
    EXPECT_FALSE(mover_->Exists(from_ / U8("請求書.pdf")));

    // A taken name gets the time-stamped one instead.
    actions.PostProcessFile("見積書.pdf");
    EXPECT_FALSE(mover_->Exists(from_ / U8("見積書.pdf")));
    EXPECT_EQ(ReadBytes(to_ / U8("見積書.pdf")), "old");
}

}  // namespace
}  // namespace tavren::platform
