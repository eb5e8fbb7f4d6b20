#pragma once

// Small helpers shared by the benchmarks. A benchmark measures the thing it
// cares about and a reference in the same run, interleaved, and reports the
// ratio of medians: the machine may be busy with other work, and a ratio
// measured side by side survives that far better than a time in ms does.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tavren::bench {

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

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes away.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = (tmp && *tmp) ? tmp : "/tmp";
        pattern += '/';
        pattern += prefix;
        pattern += "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
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

}  // namespace tavren::bench
