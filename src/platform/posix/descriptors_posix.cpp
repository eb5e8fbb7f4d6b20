#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/descriptors.h"
#include "platform/posix/unique_fd.h"

namespace tavren::platform {

void OccupyClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        // The lowest free number, so this one: those below are open by now.
        posix::UniqueFd null(::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY));
        if (null.get() == fd) null.Release();  // kept for the program's life
    }
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);  // on failure the old limit stands
}

std::optional<std::uint64_t> DescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace tavren::platform
