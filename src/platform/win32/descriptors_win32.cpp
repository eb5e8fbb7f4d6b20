#include "platform/descriptors.h"

namespace tavren::platform {

// Handles have no per-process limit that a user could meet here, and a
// program of the GUI subsystem starts without standard descriptors anyway.
void OccupyClosedStandardDescriptors() {}

void RaiseDescriptorLimit() {}

std::optional<std::uint64_t> DescriptorLimit() {
    return std::nullopt;
}

}  // namespace tavren::platform
