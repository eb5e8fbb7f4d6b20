#include <signal.h>

#include <cerrno>

#include "platform/signals.h"

namespace tavren::platform {
namespace {

sigset_t ControlSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

ControlSignals::ControlSignals() {
    const sigset_t set = ControlSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ControlSignals::~ControlSignals() {
    const sigset_t set = ControlSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

ControlSignal ControlSignals::Wait() {
    const sigset_t set = ControlSet();
    for (;;) {
        const int sig = ::sigwaitinfo(&set, nullptr);
        if (sig == SIGINT) return ControlSignal::Interrupt;
        if (sig == SIGTERM) return ControlSignal::Terminate;
        if (sig == SIGHUP) return ControlSignal::Reload;
        // EINTR from a stop/continue: keep waiting.
    }
}

void IgnoreBrokenPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace tavren::platform
