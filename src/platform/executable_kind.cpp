#include "platform/process.h"

namespace tavren::platform {

bool IsExecutableKind(const std::filesystem::path&) {
    return false;  // placeholder until the kinds are listed
}

}  // namespace tavren::platform
