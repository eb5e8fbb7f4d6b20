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

void NotifiedNames::Begin(std::uint64_t source) {
    std::lock_guard lock(mutex_);
    source_ = source;
    trusted_ = lost_ = false;
    names_.clear();
}

void NotifiedNames::Add(std::uint64_t source, bool complete, std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    if (source != source_ || source == 0) return;
    if (!complete) {
        trusted_ = false;
        lost_ = true;
        names_.clear();
        return;
    }
    for (std::string& name : names) names_.insert(std::move(name));
}

bool NotifiedNames::Take(std::uint64_t source, std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    names.clear();
    const bool byNames = trusted_ && source == source_ && source != 0;
    if (byNames) {
        names.reserve(names_.size());
        for (auto it = names_.begin(); it != names_.end();)
            names.push_back(std::move(names_.extract(it++).value()));
    }
    names_.clear();
    trusted_ = lost_ = false;  // until what this look gathered has been compared
    return byNames;
}

std::vector<std::string> NotifiedNames::Since(std::uint64_t source) {
    std::lock_guard lock(mutex_);
    if (source != source_) return {};
    return {names_.begin(), names_.end()};
}

void NotifiedNames::Listed(std::uint64_t source) {
    std::lock_guard lock(mutex_);
    if (source == source_ && source != 0 && !lost_) trusted_ = true;
}

}  // namespace tavren::engine
