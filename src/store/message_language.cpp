#include "store/message_language.h"

#include <atomic>

namespace tavren::store {

namespace {
std::atomic<bool> english{false};
}  // namespace

void UseEnglishMessages(bool on) {
    english.store(on, std::memory_order_relaxed);
}

std::string Say(std::string_view ja, std::string_view en) {
    return std::string(english.load(std::memory_order_relaxed) ? en : ja);
}

}  // namespace tavren::store
