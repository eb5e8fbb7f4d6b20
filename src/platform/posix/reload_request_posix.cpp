#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/reload_request.h"

namespace tavren::platform {
namespace {

sigset_t ReloadSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

// A watcher reloads on SIGHUP: the headless runner through ControlSignals,
// the tray program through ReloadRequests.
ReloadRequest AskToReload(long pid) {
    if (pid <= 1 || pid == ::getpid()) return ReloadRequest::Failed;
    return ::kill(static_cast<pid_t>(pid), SIGHUP) == 0 ? ReloadRequest::Sent
                                                        : ReloadRequest::Failed;
}

// The signal itself is the channel; what is kept is the mask to restore.
struct ReloadRequests::Channel {
    sigset_t previous;
};

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

ReloadRequests::ReloadRequests() : channel_(std::make_unique<Channel>()) {
    const sigset_t set = ReloadSet();
    pthread_sigmask(SIG_BLOCK, &set, &channel_->previous);
}

ReloadRequests::~ReloadRequests() {
    // A request that came while the program was ending is taken here:
    // unblocked while pending, SIGHUP's default action would kill it.
    const sigset_t set = ReloadSet();
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) == SIGHUP) {
    }
    pthread_sigmask(SIG_SETMASK, &channel_->previous, nullptr);
}

bool ReloadRequests::WaitFor(int milliseconds) {
    const sigset_t set = ReloadSet();
    const timespec timeout{milliseconds / 1000, (milliseconds % 1000) * 1'000'000L};
    return ::sigtimedwait(&set, nullptr, &timeout) == SIGHUP;
}

}  // namespace tavren::platform
