#include <signal.h>

#include <ctime>

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

std::optional<ControlSignal> SignalOf(int sig) {
    switch (sig) {
        case SIGINT:
            return ControlSignal::Interrupt;
        case SIGTERM:
            return ControlSignal::Terminate;
        case SIGHUP:
            return ControlSignal::Reload;
        default:
            return std::nullopt;  // timed out, or EINTR from a stop/continue
    }
}

}  // namespace

// The signals themselves are the channel; what is kept is the mask to restore.
struct ControlSignals::State {
    sigset_t previous;
};

ControlSignals::ControlSignals() : state_(std::make_unique<State>()) {
    const sigset_t set = ControlSet();
    pthread_sigmask(SIG_BLOCK, &set, &state_->previous);
}

ControlSignals::~ControlSignals() {
    // Unblocked while pending, a signal's default action would kill the
    // program on its way out.
    const sigset_t set = ControlSet();
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

ControlSignal ControlSignals::Wait() {
    const sigset_t set = ControlSet();
    for (;;) {
        if (const auto signal = SignalOf(::sigwaitinfo(&set, nullptr))) return *signal;
    }
}

std::optional<ControlSignal> ControlSignals::WaitFor(int milliseconds) {
    const sigset_t set = ControlSet();
    const timespec timeout{milliseconds / 1000, (milliseconds % 1000) * 1'000'000L};
    return SignalOf(::sigtimedwait(&set, nullptr, &timeout));
}

void IgnoreBrokenPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace tavren::platform
