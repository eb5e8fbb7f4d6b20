#include <windows.h>

#include "platform/memory.h"

namespace tavren::platform {

void ReturnFreeMemory() {
    ::HeapCompact(::GetProcessHeap(), 0);
}

}  // namespace tavren::platform
