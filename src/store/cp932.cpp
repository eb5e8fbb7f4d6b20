#include "store/cp932.h"

#include <cstring>

#include "platform/text.h"
#include "platform/utf8.h"

namespace tavren::store {

std::optional<std::string> ToCp932(std::string_view utf8, bool allowLookAlikes) {
    std::string out;
    if (!platform::Utf8ToCp932(utf8, out, allowLookAlikes)) return std::nullopt;
    return out;
}

std::string ToCp932Lossy(std::string_view utf8) {
    std::string out;
    if (platform::Utf8ToCp932(utf8, out)) return out;
    // Character by character, so that only those without a form are lost.
    out.clear();
    std::string piece;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t len = platform::Utf8CharLength(utf8, i);
        if (len > 1 && platform::Utf8ToCp932(utf8.substr(i, len), piece)) {
            out += piece;
        } else if (len == 1 && static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i];
        } else {
            out += '?';
        }
        i += len;
    }
    return out;
}

std::string FromCp932(std::string_view cp932) {
    std::string out;
    if (platform::Cp932ToUtf8(cp932, out)) return out;
    // Convert character by character so that only the damaged ones are lost.
    out.clear();
    std::string piece;
    for (std::size_t i = 0; i < cp932.size();) {
        const auto lead = static_cast<unsigned char>(cp932[i]);
        const std::size_t len = IsCp932LeadByte(lead) && i + 1 < cp932.size() ? 2 : 1;
        if (platform::Cp932ToUtf8(cp932.substr(i, len), piece)) {
            out += piece;
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += 1;
        }
    }
    return out;
}

std::optional<std::size_t> Cp932Length(std::string_view utf8) {
    auto converted = ToCp932(utf8);
    if (!converted) return std::nullopt;
    return converted->size();
}

std::size_t Cp932FitLength(std::string_view cp932, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < cp932.size()) {
        const std::size_t len =
            IsCp932LeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
        if (i + len > maxBytes) break;
        i += len;
    }
    return i;
}

std::string_view FieldText(const char* field, std::size_t width) {
    const void* nul = std::memchr(field, '\0', width);
    return {field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width};
}

bool StoreField(char* field, std::size_t width, std::string_view cp932) {
    const std::size_t n = Cp932FitLength(cp932, width - 1);
    if (n > 0) std::memcpy(field, cp932.data(), n);  // an empty view's data() may be null
    field[n] = '\0';
    return n == cp932.size();
}

}  // namespace tavren::store
