#include "platform/output_line.h"

#include "platform/utf8.h"

namespace tavren::platform {
namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += "\\x";
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
}

}  // namespace

std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = Utf8CharLength(text, i);
        const std::string_view ch = text.substr(i, len);
        const auto lead = static_cast<unsigned char>(ch[0]);
        const bool control = lead < 0x20 || lead == 0x7F ||
                             (len == 2 && lead == 0xC2 && static_cast<unsigned char>(ch[1]) < 0xA0);
        // A lone byte at or above 0x80 is one that forms no UTF-8.
        if (control || (len == 1 && lead >= 0x80)) {
            AppendEscaped(out, ch);
        } else {
            out += ch;
        }
        i += len;
    }
    return out;
}

}  // namespace tavren::platform
