#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavren::rules {

// The text fields of the editor and its pages. Their limits count CP932
// bytes, as the settings file stores them (a double-byte character counts
// two), not characters.
enum class Field { None, Title, Folder, Program, Pattern, WaveFile, MoveTo };

struct FieldLimit {
    std::size_t maxBytes = 0;
    // False only for the title: there a character that CP932 shows only as
    // a look-alike (U+301C as the full-width tilde) is accepted, as the
    // settings file stores it; in a path it would name another file.
    bool namesAFile = true;
};

FieldLimit LimitOf(Field field);

enum class TextCheck { Fits, TooLong, NoCp932Form };

// CP932 bytes of UTF-8 `text`, or nullopt when a character has no CP932
// form.
std::optional<std::size_t> Cp932Bytes(std::string_view text, bool namesAFile = true);

TextCheck CheckText(std::string_view text, FieldLimit limit);

// The message for a text over `maxBytes`, and for one with a character
// CP932 cannot store.
std::string TooLongText(std::size_t maxBytes);
std::string_view NoCp932FormText();

// What a dialog shows for a refused text: empty when it fits.
std::string RefusalText(TextCheck check, FieldLimit limit);

// A text field as its control holds it.
struct TextField {
    std::string text;
    bool enabled = true;
};

}  // namespace tavren::rules
