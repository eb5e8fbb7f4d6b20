#include "engine/watch_state.h"

#include <algorithm>

namespace tavren::engine {

WatchKey KeyOf(const store::WatchEntry& entry) {
    return {entry.folder, entry.fileMode, entry.usesPattern() ? entry.pattern : std::string()};
}

SteadyTime WatchState::NextWakeUp() const {
    return std::min({catchUpAt, recheckAt, listingRetryAt});
}

Readiness JudgeReadiness(platform::WriterState writers, const Observation& now,
                         const WaitingFile* previous, std::int64_t wallNowNs, SteadyTime steadyNow,
                         WaitingFile& record) {
    record.id = now.id;
    record.size = now.size;
    record.mtimeNs = now.mtimeNs;
    const bool changed = previous && (previous->id != now.id || previous->size != now.size ||
                                      previous->mtimeNs != now.mtimeNs);
    if (!previous) {
        // First sight: its time of last write says how long it has been
        // quiet (a time in the future says nothing).
        const auto age =
            std::chrono::nanoseconds(std::max<std::int64_t>(0, wallNowNs - now.mtimeNs));
        record.lastChange = steadyNow - std::chrono::duration_cast<SteadyTime::duration>(age);
    } else {
        record.lastChange = changed ? steadyNow : previous->lastChange;
    }
    if (writers == platform::WriterState::None) return Readiness::Ready;
    const auto quiet = steadyNow - record.lastChange;
    const auto needed = writers == platform::WriterState::Writing
                            ? std::chrono::duration_cast<SteadyTime::duration>(kQuietWhenHeld)
                            : std::chrono::duration_cast<SteadyTime::duration>(kQuietWhenUnknown);
    return quiet >= needed ? Readiness::Ready : Readiness::Wait;
}

}  // namespace tavren::engine
