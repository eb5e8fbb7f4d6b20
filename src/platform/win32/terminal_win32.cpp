#include <io.h>

#include <cstdio>

#include "platform/terminal.h"

namespace tavren::platform {

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

}  // namespace tavren::platform
