#pragma once

#include <string>
#include <string_view>

namespace tavren::store {

// The store's messages are the tray's, in Japanese. A command run under
// another language asks once, at its start, for their English twins, so
// that one run speaks one language; the watchers never do.
void UseEnglishMessages(bool english);

// `ja`, or `en` once English was asked for.
std::string Say(std::string_view ja, std::string_view en);

}  // namespace tavren::store
