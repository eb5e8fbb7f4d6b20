// How soon a move to another file system gives up once the program ends.
// A file on /dev/shm (tmpfs) is moved into a folder under $TMPDIR (on the
// disk, where /dev/shm is not), and the cancel event that the engine hands
// the mover is set at points spread over the copy, the last ones close to
// its end, where the data is flushed to disk.
//
//   measured   from setting the event to Move returning.
//   reference  the whole move without a cancel, in the same run.
//   target     every cancelled move returns within 500 ms of the event,
//              with operation_canceled, the source whole and nothing left
//              in the destination folder.
//
// Usage: bench_mover [--size-mb=N]   (1024 by default)
//
// Prints PASS or FAIL; exits 0 unless the benchmark itself could not run.

#include <sys/stat.h>

#include <future>
#include <thread>

#include "common.h"
#include "platform/file_mover.h"
#include "platform/wake_event.h"

using namespace tavren;
using namespace tavren::bench;
namespace fs = std::filesystem;

namespace {

struct Sample {
    double at = 0;       // share of the file written when the event was set
    double latency = 0;  // ms from the event to Move's return
    std::error_code result;
    bool sourceWhole = false;
    bool nothingLeft = false;
};

// Bytes this process has written so far, as the kernel counts them.
std::uintmax_t BytesWritten() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uintmax_t value = 0;
    while (io >> key >> value && key != "wchar:") {
    }
    return value;
}

void WriteSource(const fs::path& file, std::uintmax_t bytes) {
    std::ofstream out(file, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 1);
    for (std::uintmax_t done = 0; done < bytes; done += block.size()) out << block;
    if (!out.flush()) Die("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
    std::uintmax_t sizeMb = 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--size-mb=")) {
            sizeMb = std::strtoull(argv[i] + 10, nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--size-mb=N]\n", argv[0]);
            return 2;
        }
    }
    CatchInterrupts();
    const std::uintmax_t bytes = sizeMb << 20;
    std::vector<Sample> samples;
    double reference = 0;
    try {
        ScratchFolder to("tavren-bench-mover");
        ScratchFolder shm("tavren-bench-mover", "/dev/shm");
        struct stat a {
        }, b{};
        if (::stat(shm.path().c_str(), &a) != 0 || ::stat(to.path().c_str(), &b) != 0 ||
            a.st_dev == b.st_dev) {
            Die("/dev/shm and $TMPDIR share a file system: nothing would be copied");
        }
        const fs::path source = shm.path() / "big.bin";
        const fs::path target = to.path() / "big.bin";
        WriteSource(source, bytes);
        const auto mover = platform::MakeFileMover();
        const platform::WakeEvent never;

        reference = TimeMs([&] {
            if (auto ec = mover->Move(source, target, false, never)) Die(ec.message());
        });
        if (auto ec = mover->Move(target, source, false, never)) Die(ec.message());

        for (const double at : {0.05, 0.25, 0.5, 0.75, 0.95, 1.0}) {
            CheckInterrupted();
            platform::WakeEvent cancel;
            auto moving = std::async(std::launch::async,
                                     [&] { return mover->Move(source, target, false, cancel); });
            const std::uintmax_t start = BytesWritten();
            while (BytesWritten() - start <
                       static_cast<std::uintmax_t>(at * static_cast<double>(bytes)) &&
                   moving.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
            }
            Sample s;
            s.at = at;
            s.latency = TimeMs([&] {
                cancel.Set();
                s.result = moving.get();
            });
            if (!s.result) {  // finished before the event: back for the next point
                if (auto ec = mover->Move(target, source, false, never)) Die(ec.message());
            }
            std::error_code ec;
            s.sourceWhole = fs::file_size(source, ec) == bytes;
            s.nothingLeft = fs::is_empty(to.path(), ec);
            samples.push_back(s);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_mover: %s\n", e.what());
        return 1;
    }

    std::printf("Cancelling a move of %ju MB from /dev/shm to $TMPDIR\n", sizeMb);
    std::printf("   reference: the whole move takes %.0f ms\n", reference);
    std::printf("   %8s %12s   %s\n", "event at", "returned ms", "outcome");
    bool met = true;
    for (const Sample& s : samples) {
        const bool cancelled = s.result == std::errc::operation_canceled;
        std::printf("   %7.0f%% %12.1f   %s%s%s\n", s.at * 100, s.latency,
                    cancelled  ? "cancelled"
                    : s.result ? s.result.message().c_str()
                               : "finished first",
                    s.sourceWhole ? "" : ", source damaged",
                    s.nothingLeft ? "" : ", copy left behind");
        met = met && s.latency < 500 && s.sourceWhole && s.nothingLeft && (cancelled || !s.result);
    }
    std::printf(
        "   target: every move returns within 500 ms of the event, the source whole and\n"
        "   nothing left behind: %s\n",
        Verdict(met));
    return 0;
}
