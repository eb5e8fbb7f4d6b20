#pragma once

#include <QString>
#include <cstddef>
#include <optional>

class QLineEdit;

namespace tavren::ui {

// The entry's texts are stored in CP932 with byte limits, so the edits count
// CP932 bytes (a double-byte character counts two), not characters.
//
// `namesAFile` is false only for the title: there a character that CP932
// shows only as a look-alike (U+301C as the full-width tilde) is accepted,
// as the settings file stores it; in a path it would name another file.

enum class TextCheck { Fits, TooLong, NoCp932Form };

// CP932 bytes of `text`, or nullopt when some character has no CP932 form.
std::optional<std::size_t> Cp932Bytes(const QString& text, bool namesAFile = true);

TextCheck CheckText(const QString& text, std::size_t maxBytes, bool namesAFile = true);

// The typing limit of `edit`: an edit that would take the text over
// `maxBytes` is refused as a whole; one that brings in a character without
// a CP932 form is refused with NoCp932FormText(). Text set by the program
// is never cut, so a chooser's long path stays visible in full and is
// refused only when it is read (ReadLimitedText).
void SetCp932Limit(QLineEdit* edit, std::size_t maxBytes, bool namesAFile = true);

// Reads `edit` into `out` (always, whatever the check says). A text over
// `maxBytes` or without a CP932 form shows its message and takes the focus
// to the edit; the result says which. The text of a disabled edit is read
// as it is and not checked.
TextCheck ReadLimitedText(QLineEdit* edit, std::size_t maxBytes, QString& out,
                          bool namesAFile = true);

// The message for a text over its limit, and for one with a character that
// CP932 cannot store.
QString TooLongText(std::size_t maxBytes);
QString NoCp932FormText();

}  // namespace tavren::ui
