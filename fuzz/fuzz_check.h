#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tavren::fuzz {

// A broken property: print it and abort, which libFuzzer reports as a crash
// and saves the input for.
#define FUZZ_REQUIRE(cond)                                                              \
    do {                                                                                \
        if (!(cond)) {                                                                  \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Prints `text` as C string escapes, for the report of a broken property.
inline void PrintEscaped(const char* label, std::string_view text) {
    std::fprintf(stderr, "%s: \"", label);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            std::fputc(b, stderr);
        } else {
            std::fprintf(stderr, "\\x%02X", b);
        }
    }
    std::fprintf(stderr, "\"\n");
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Well-formed UTF-8 as Unicode defines it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
inline bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
        const unsigned char c = b(0);
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
        if (c < 0x80) {
            len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char first = k == 1 ? lo : 0x80, last = k == 1 ? hi : 0xBF;
            if (b(k) < first || b(k) > last) return false;
        }
        i += len;
    }
    return true;
}

}  // namespace tavren::fuzz
