#pragma once

#include <cstddef>
#include <string_view>

namespace tavren::platform {

// Length in bytes of the character starting at s[i]: a well-formed UTF-8
// sequence, or 1 for a byte that starts none. The range of the second byte
// rules out overlong forms, surrogates and values past U+10FFFF, and
// 0xF5..0xFF never start a sequence. `i` must be less than s.size().
inline std::size_t Utf8CharLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = byte(0);
    std::size_t len = 1;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    }
    if (len == 1 || i + len > s.size()) return 1;
    if (byte(1) < lo || byte(1) > hi) return 1;
    for (std::size_t k = 2; k < len; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 1;
    }
    return len;
}

}  // namespace tavren::platform
