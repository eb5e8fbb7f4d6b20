#include <signal.h>
#include <unistd.h>

#include "platform/reload_request.h"

namespace tavren::platform {

ReloadRequest AskToReload(long pid) {
    if (pid <= 1 || pid == ::getpid()) return ReloadRequest::Failed;
    return ::kill(static_cast<pid_t>(pid), SIGHUP) == 0 ? ReloadRequest::Sent
                                                        : ReloadRequest::Failed;
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

}  // namespace tavren::platform
