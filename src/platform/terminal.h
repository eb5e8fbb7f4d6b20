#pragma once

namespace tavren::platform {

// Whether standard input is a terminal, so that a question may wait for
// the user's answer; from a pipe, a file or a service nobody answers.
bool StdinIsTerminal();

}  // namespace tavren::platform
