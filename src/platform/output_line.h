#pragma once

#include <string>
#include <string_view>

namespace tavren::platform {

// `text` made safe to print as one line of output: a file name holding a
// line break must not forge a line of its own. Valid UTF-8 passes as it is;
// every C0 control byte, DEL, each byte of a C1 control (U+0080..U+009F)
// and every byte that is not part of valid UTF-8 becomes `\xNN` (two
// lower-case hex digits). Backslashes stay, so Windows paths read as usual.
std::string OneLine(std::string_view text);

}  // namespace tavren::platform
