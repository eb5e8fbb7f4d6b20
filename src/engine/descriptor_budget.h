#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/services.h"

namespace tavren::engine {

// What the program holds besides its entries: the standard streams, its
// lock, the change notifications, the threads' wake events (9 headless,
// about 15 with a desktop), and room for a sound device and a few programs
// started and not ended yet.
inline constexpr int kProgramDescriptors = 24;
// What one watched entry needs: the wake event of its change subscription,
// held as long as it is watched, and two for a look (the folder listed, a
// file under lease beside its copy on another drive, a snapshot written
// through a temporary file, a program waited for). Every entry may look at
// the same time: each takes its first listing at the start.
inline constexpr int kDescriptorsPerEntry = 3;

// How many of `entries` entries the descriptor limit `limit` leaves room
// for, counted from the first; nullopt: no limit.
int WatchableEntries(std::optional<std::uint64_t> limit, int entries);

// Leaves the entries past what the process's descriptor limit allows
// unwatched (WatchMode::None, the limit as the reason) and tells `sink`
// once how many; returns how many entries are to be watched. `statuses`
// holds one per entry and is guarded by `mutex`.
int ApplyDescriptorBudget(std::vector<WatchStatus>& statuses, std::mutex& mutex, MessageSink& sink);

// A look failed because the process or the system ran out of descriptors.
bool IsDescriptorShortage(const std::error_code& ec);
// What to tell the user then, naming the limit to raise.
std::string DescriptorShortageAdvice(const std::error_code& ec);

}  // namespace tavren::engine
