#pragma once

namespace tavren::platform {

// Hands the heap's free memory back to the system. A look at a large folder
// frees as much as it took (its listing, the snapshot file's bytes), but
// the allocator keeps the pages for later; a watcher that holds many files
// stays as small as what it keeps.
void ReturnFreeMemory();

}  // namespace tavren::platform
