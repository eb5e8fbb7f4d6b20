#pragma once

// Small helpers shared by the benchmarks. A benchmark measures the thing it
// cares about and a reference in the same run, interleaved, and reports the
// ratio of medians: the machine may be busy with other work, and a ratio
// measured side by side survives that far better than a time in ms does.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/services.h"
#include "platform/sound.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/watch_entry.h"

namespace tavren::bench {

// Failures throw up to main, so that scratch folders with their 100,000
// files are removed on every way out; main prints the text and exits 1.
[[noreturn]] inline void Die(const std::string& what) {
    throw std::runtime_error(what);
}

// Set by SIGINT and SIGTERM; long loops call CheckInterrupted so that
// Ctrl-C also unwinds and cleans up.
inline volatile std::sig_atomic_t g_interrupted = 0;

inline void CatchInterrupts() {
    std::signal(SIGINT, [](int) { g_interrupted = 1; });
    std::signal(SIGTERM, [](int) { g_interrupted = 1; });
}

inline void CheckInterrupted() {
    if (g_interrupted) Die("interrupted");
}

// Reads every event waiting on the non-blocking inotify descriptor `fd`
// and hands each to `onEvent`; returns true at once when `onEvent` does.
template <typename Fn>
bool DrainInotify(int fd, Fn&& onEvent) {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (onEvent(*ev)) return true;
        }
    }
    return false;
}

// The monotonic clock in nanoseconds.
inline std::int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

inline void MakeFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) Die("cannot create " + folder.string() + ": " + ec.message());
}

// Creates a new file holding `content`.
inline void CreateFile(const std::filesystem::path& file, std::string_view content = {}) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + file.string() + ": " + std::strerror(errno));
    const bool written = content.empty() || ::write(fd, content.data(), content.size()) ==
                                                static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!written) Die("cannot write " + file.string());
}

inline std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes the settings file of `data` with every entry running.
inline void WriteSettings(const store::DataFolder& data,
                          const std::vector<store::WatchEntry>& entries) {
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());
    std::vector<store::SlotImage> slots;
    for (const store::WatchEntry& entry : entries) {
        store::SlotImage image = store::BlankSlotImage();
        if (const store::Status s = store::EncodeSlot({true, entry}, image); !s.ok())
            Die(s.message());
        slots.push_back(image);
    }
    if (const store::Status s = store::WriteAllSlots(data.settingsFile(), slots); !s.ok()) {
        Die(s.message());
    }
}

inline const char* Verdict(bool met) {
    return met ? "PASS" : "FAIL";
}

// Milliseconds that `fn` takes, on the monotonic clock.
template <typename Fn>
double TimeMs(Fn&& fn) {
    const auto start = std::chrono::steady_clock::now();
    std::forward<Fn>(fn)();
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(stop - start).count();
}

// Median of a set of samples; the middle one, or the mean of the two middle
// ones for an even count. Robust against the odd sample a busy machine spoils.
inline double Median(std::vector<double> samples) {
    if (samples.empty()) return 0.0;
    std::sort(samples.begin(), samples.end());
    const std::size_t mid = samples.size() / 2;
    return samples.size() % 2 == 1 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2.0;
}

// Prints the ratio of each pair of a side-by-side measure and their median,
// which it returns: one noisy pair does not decide.
inline double PrintPairs(const char* indent, const std::vector<double>& ratios) {
    std::printf("%spairs:", indent);
    for (const double r : ratios) std::printf(" %.2f", r);
    const double median = Median(ratios);
    std::printf("; median %.3fx\n", median);
    return median;
}

// How many of the samples exceed `limit`.
inline std::ptrdiff_t CountOver(const std::vector<double>& samples, double limit) {
    return std::count_if(samples.begin(), samples.end(), [&](double v) { return v > limit; });
}

// Nearest-rank percentile, p in (0, 100].
inline double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0.0;
    std::sort(samples.begin(), samples.end());
    auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
    rank = std::clamp<std::size_t>(rank, 1, samples.size());
    return samples[rank - 1];
}

// A fresh folder under `parent`, by default $TMPDIR (or /tmp), removed with
// everything in it when the object goes away.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix, const char* parent = nullptr) {
        const char* tmp = parent ? parent : std::getenv("TMPDIR");
        std::string pattern = (tmp && *tmp) ? tmp : "/tmp";
        pattern += '/';
        pattern += prefix;
        pattern += "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "cannot create " + pattern);
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Names as they turn up in a real document folder: mostly ASCII, one in four
// Japanese (which takes the CP932 conversion path of the snapshot keys).
inline std::string DocumentName(std::size_t i) {
    char buffer[96];
    const unsigned n = static_cast<unsigned>(i);
    switch (i % 8) {
        case 0:
            std::snprintf(buffer, sizeof buffer, "報告書_%06u.txt", n);
            break;
        case 1:
            std::snprintf(buffer, sizeof buffer, "IMG_%06u.jpg", n);
            break;
        case 2:
            std::snprintf(buffer, sizeof buffer, "report-2026-12-%06u.pdf", n);
            break;
        case 3:
            std::snprintf(buffer, sizeof buffer, "data_%06u.csv", n);
            break;
        case 4:
            std::snprintf(buffer, sizeof buffer, "議事録 %06u 営業部.docx", n);
            break;
        case 5:
            std::snprintf(buffer, sizeof buffer, "Invoice %06u (final).xlsx", n);
            break;
        case 6:
            std::snprintf(buffer, sizeof buffer, "scan%06u.tif", n);
            break;
        default:
            std::snprintf(buffer, sizeof buffer, "notes_%06u.md", n);
            break;
    }
    return buffer;
}

// Creates `folder` holding `count` files named by DocumentName, of varied
// sizes. The files are sparse, so the sizes cost no disk space and creating
// 100,000 of them stays quick.
inline std::vector<std::string> CreateDocumentFolder(const std::filesystem::path& folder,
                                                     std::size_t count) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) Die("cannot create " + folder.string() + ": " + ec.message());
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 1024 == 0) CheckInterrupted();
        names.push_back(DocumentName(i));
        const std::string path = (folder / names.back()).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) Die("cannot create " + path + ": " + std::strerror(errno));
        const bool sized = ::ftruncate(fd, static_cast<off_t>((i * 7919) % 300000)) == 0;
        ::close(fd);
        if (!sized) Die("cannot size " + path);
    }
    return names;
}

// Stand-ins for the engine's outside effects that the benchmarks only count.
class SilentSound final : public tavren::platform::SoundPlayer {
public:
    void Beep(int, int) override {}
    void PlayWave(const std::filesystem::path&) override {}
};

class CountingSink final : public tavren::engine::MessageSink {
public:
    void ShowMessage(std::string_view, const tavren::platform::WakeEvent&) override { ++messages; }
    void ReportProblem(std::string_view) override { ++problems; }
    std::atomic<int> messages{0};
    std::atomic<int> problems{0};
};

inline volatile std::uint64_t g_sink = 0;  // keeps the compiler from dropping work

// The reference of every listing benchmark: the least work that yields the
// name, size and time of every entry, written with bare POSIX calls.
inline std::size_t BareListing(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) Die("cannot list " + folder.string());
    const int dfd = ::dirfd(dir);
    std::size_t count = 0;
    std::uint64_t sum = 0;
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        struct stat st {};
        if (::fstatat(dfd, name, &st, 0) != 0) continue;
        sum +=
            static_cast<std::uint64_t>(st.st_size) + static_cast<std::uint64_t>(st.st_mtim.tv_sec);
        ++count;
    }
    ::closedir(dir);
    g_sink = g_sink + sum;
    return count;
}

}  // namespace tavren::bench
