#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavren::store {

// True for a byte that starts a two-byte character in code page 932.
constexpr bool IsCp932LeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// UTF-8 text in CP932, or nullopt when some character has no CP932 form.
// With `allowLookAlikes`, a character that CP932 can only show as a
// look-alike (U+301C as the full-width tilde) is stored as that; only
// right for text that names no file, such as a title.
std::optional<std::string> ToCp932(std::string_view utf8, bool allowLookAlikes = false);

// UTF-8 text in CP932 with '?' for every character that has no CP932 form
// of its own (look-alikes count as none) and for every byte that is not
// UTF-8: text to show, never to name a file by.
std::string ToCp932Lossy(std::string_view utf8);

// CP932 text as UTF-8. Stored text is taken as it comes, so a byte sequence
// that is not valid CP932 does not fail: each offending byte becomes U+FFFD.
std::string FromCp932(std::string_view cp932);

// Number of CP932 bytes `utf8` needs, or nullopt when it has no CP932 form.
std::optional<std::size_t> Cp932Length(std::string_view utf8);

// Length of the longest prefix of `cp932` of at most `maxBytes` bytes that
// does not end in the middle of a two-byte character.
std::size_t Cp932FitLength(std::string_view cp932, std::size_t maxBytes);

// The text of a fixed-width, NUL-terminated field: up to the first NUL, or
// the whole field when it holds none.
std::string_view FieldText(const char* field, std::size_t width);

// Stores `cp932` into a fixed-width field: at most width-1 bytes, never
// splitting a two-byte character, then a NUL. Bytes after the NUL are left
// as they were. Returns false when the text had to be shortened.
bool StoreField(char* field, std::size_t width, std::string_view cp932);

}  // namespace tavren::store
