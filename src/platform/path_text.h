#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tavren::platform {

// Paths from and to the UTF-8 text the program keeps in memory. On Windows
// std::filesystem::path reads a plain std::string in the system's code page
// (with mingw's runtime, byte by byte); through char8_t it reads UTF-8 on
// every platform, and on POSIX systems this costs nothing.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// `path` made absolute against the working folder and lexically
// normalised; empty when the working folder cannot be read.
inline std::filesystem::path WholePath(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path whole = std::filesystem::absolute(path, ec);
    return ec ? std::filesystem::path() : whole.lexically_normal();
}

}  // namespace tavren::platform
