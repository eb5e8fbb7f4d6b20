#pragma once

#include <string>
#include <string_view>

namespace tavren::rules {

// Whether `path` starts or ends with a blank: a space, a tab or the
// full-width space. Such a path is almost always a slip of the keyboard,
// and names a folder or file other than the one meant.
bool HasBlankEnds(std::string_view path);

// `path` whole: made absolute against the working folder and lexically
// normalised. A watcher started elsewhere (at the next login) would
// otherwise look in another place. Empty stays empty.
std::string WholePath(std::string_view path);

// The program line with its program (the first word, a quoted one with its
// blanks) made whole when it names an existing file relative to the
// working folder; the arguments stay exactly as typed. A bare name that
// names no file here is left for the search path.
std::string WholeProgramLine(std::string_view line);

}  // namespace tavren::rules
