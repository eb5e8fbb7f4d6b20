#include <gtest/gtest.h>
#include <signal.h>

#include "platform/signals.h"

namespace tavren::platform {
namespace {

// The tray's waiting thread takes the signals as they come. One that comes
// while the program is ending, after that thread has gone, must not kill
// it on the way out (the default action of each) nor change the signal
// mask the program had before.
TEST(ControlSignalsTest, SignalsDuringTheEndAreTakenQuietlyAndTheMaskRestored) {
    sigset_t before;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
    {
        ControlSignals signals;
        EXPECT_EQ(signals.WaitFor(10), std::nullopt);
        ASSERT_EQ(::raise(SIGHUP), 0);
        EXPECT_EQ(signals.WaitFor(5000), ControlSignal::Reload);
        for (const int sig : {SIGHUP, SIGTERM, SIGINT}) ASSERT_EQ(::raise(sig), 0);  // unwaited
    }
    sigset_t after;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
    sigset_t pending;
    ASSERT_EQ(::sigpending(&pending), 0);
    for (const int sig : {SIGHUP, SIGTERM, SIGINT}) {
        EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
        EXPECT_FALSE(sigismember(&pending, sig)) << sig;
    }
}

}  // namespace
}  // namespace tavren::platform
