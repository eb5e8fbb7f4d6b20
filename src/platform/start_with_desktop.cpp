#include "platform/start_with_desktop.h"

#include <utility>

namespace tavren::platform {
namespace {

std::vector<std::string>& Arguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

}  // namespace

void SetStartArguments(std::vector<std::string> arguments) {
    Arguments() = std::move(arguments);
}

const std::vector<std::string>& StartArguments() {
    return Arguments();
}

}  // namespace tavren::platform
