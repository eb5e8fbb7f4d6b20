#include "engine/descriptor_budget.h"

#include <gtest/gtest.h>

#include <limits>

namespace tavren::engine {
namespace {

TEST(WatchableEntries, LeavesRoomForTheProgramAndEachEntrysLooks) {
    const struct {
        std::optional<std::uint64_t> limit;
        int entries, watchable;
    } cases[] = {
        {std::numeric_limits<std::uint64_t>::max(), 200, 200},
        {624, 200, 200},  // just enough
        {623, 200, 199},
        {10, 200, 0},  // below what the program holds itself
    };
    for (const auto& c : cases)
        EXPECT_EQ(WatchableEntries(c.limit, c.entries), c.watchable) << c.limit.value_or(0);
}

}  // namespace
}  // namespace tavren::engine
