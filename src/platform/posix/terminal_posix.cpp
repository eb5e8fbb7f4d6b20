#include <unistd.h>

#include "platform/terminal.h"

namespace tavren::platform {

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

}  // namespace tavren::platform
