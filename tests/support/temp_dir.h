#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavren::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes `bytes` to `file`, creating or truncating it.
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);

// The whole content of `file`; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& file);

// Sets the last-write time of `file` to the given local time.
void SetLocalMtime(const std::filesystem::path& file, int year, int month, int day, int hour,
                   int minute, int second);
// The same, to `ns` nanoseconds after the epoch (as finely as the system
// keeps it: 100 ns on Windows).
void SetMtimeNs(const std::filesystem::path& file, std::int64_t ns);

}  // namespace tavren::test
