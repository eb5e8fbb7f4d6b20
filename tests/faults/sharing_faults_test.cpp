// A move whose calls are refused as another program holding the file would
// have them refused (a sharing violation on Windows, EBUSY elsewhere): the
// file stays whole in one place, and the move says "busy", which the engine
// takes as "try again later", never as a failure to report.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "faults/fault_driver.h"
#include "platform/file_mover.h"
#include "platform/wake_event.h"
#include "support/temp_dir.h"

namespace tavren::faults {
namespace {

namespace fs = std::filesystem;
using platform::Fault;
using platform::SysCall;

// Sends a move down its copying path: the first rename fails as one to
// another drive would. The calls after it go to `then`.
class AcrossDrives final : public platform::FaultPlan {
public:
    explicit AcrossDrives(platform::FaultPlan& then) : then_(then) {}
    Fault Next(SysCall call) override {
        if (call == SysCall::Rename && !renamed_.exchange(true)) return Fault::CrossDevice;
        return then_.Next(call);
    }

private:
    platform::FaultPlan& then_;
    std::atomic<bool> renamed_{false};
};

// Whether every refused call must fail the move. On Windows each one does;
// on POSIX the sync of the folder after the rename goes unchecked, the file
// being moved already.
#ifdef _WIN32
constexpr bool kNoCallIgnored = true;
#else
constexpr bool kNoCallIgnored = false;
#endif

std::vector<std::string> Contents(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

// One move of a file to another folder, every call of it refused in turn.
std::vector<std::string> MoveRefused(FaultRun& run, bool acrossDrives) {
    std::vector<std::string> broken;
    test::TempDir dir;
    const fs::path watched = dir / "watched";
    const fs::path target = dir / "target";
    fs::create_directories(watched);
    fs::create_directories(target);
    const std::string data(64 * 1024, 'x');
    test::WriteBytes(watched / "report.csv", data);

    const auto mover = platform::MakeFileMover();
    const platform::WakeEvent cancel;
    std::error_code ec;
    {
        AcrossDrives across(run.plan);
        ScopedPlan plan(acrossDrives ? static_cast<platform::FaultPlan&>(across) : run.plan);
        ec = mover->Move(watched / "report.csv", target / "report.csv", false, cancel);
    }

    // The restart: what the destination folder holds once leftovers go.
    mover->RemoveLeftovers(target);
    const bool atSource = fs::exists(watched / "report.csv");
    const bool atTarget = fs::exists(target / "report.csv");
    if (atSource && atTarget) broken.push_back("the file is in both places");
    if (!atSource && !atTarget) broken.push_back("the file is in neither place");
    const fs::path where = atTarget ? target / "report.csv" : watched / "report.csv";
    if ((atSource || atTarget) && test::ReadBytes(where) != data)
        broken.push_back("the file is torn");
    if (!ec && !atTarget) broken.push_back("a move reported done did not happen");
    if (!ec && run.plan.Hit() && kNoCallIgnored) broken.push_back("a refused call was ignored");
    if (ec && ec != std::errc::device_or_resource_busy) {
        broken.push_back("a refused move reported \"" + ec.message() + "\", not busy");
    }
    if (ec && atTarget) broken.push_back("a move that took effect was reported failed");
    for (const std::string& name : Contents(target)) {
        if (name != "report.csv") broken.push_back("left " + name);
    }
    return broken;
}

TEST(SharingFaults, ARefusedMoveKeepsTheFileWholeInOnePlaceAndSaysBusy) {
    for (const bool across : {false, true}) {
        const PathOutcome outcome = RunEveryFault(
            across ? "move, sharing: across drives" : "move, sharing: same drive",
            [&](FaultRun& run) { return MoveRefused(run, across); }, {Fault::Sharing});
        EXPECT_GE(outcome.calls, 1);
        EXPECT_EQ(outcome.runs, outcome.failed);
    }
}

}  // namespace
}  // namespace tavren::faults
