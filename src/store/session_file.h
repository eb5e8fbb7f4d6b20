#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/data_folder.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::store {

// Which entry each snapshot file belongs to, kept in <root>/tavren3.session
// while watching runs. A clean end (stop, exit) removes it; finding it at
// start-up means the last run was killed or crashed, and each entry can go
// on from its snapshot instead of taking a fresh one, so files that arrived
// before and during the outage are still acted on.
struct SessionSlot {
    int slot = 0;
    std::string folder;
    std::int16_t fileMode = 0;
    std::string pattern;

    bool operator==(const SessionSlot&) const = default;
};

Status WriteSession(const DataFolder& data, const std::vector<SessionSlot>& slots);

// Nullopt when there is no session file (the last run ended cleanly); a
// damaged file gives the slots it could read.
std::optional<std::vector<SessionSlot>> ReadSession(const DataFolder& data);

void RemoveSession(const DataFolder& data);

}  // namespace tavren::store
