#pragma once

#include <cstdint>
#include <optional>

namespace tavren::platform {

// Opens the null device on each standard descriptor (input, output, error)
// that the program was started without, so that no file it opens later
// takes that number and receives what is printed. Call first in main().
void OccupyClosedStandardDescriptors();

// Raises the soft limit of open descriptors to the hard limit, which needs
// no privilege, so that a low soft limit leaves no entry unwatched. Call in
// main() before any thread starts. Started programs inherit the raised
// limit.
void RaiseDescriptorLimit();

// How many descriptors the process may hold at once: the soft limit.
// nullopt where there is no such limit (Windows, or set to unlimited).
std::optional<std::uint64_t> DescriptorLimit();

}  // namespace tavren::platform
