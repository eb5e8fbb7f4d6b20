#include "platform/reload_request.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace tavren::platform {
namespace {

// The tray takes SIGHUP as a request to reload. One that comes while the
// program is ending, after its waiting thread has gone, must not kill it
// on the way out (SIGHUP's default action) nor change the signal mask the
// program had before.
TEST(ReloadRequestTest, ARequestDuringTheEndIsTakenQuietlyAndTheMaskRestored) {
    sigset_t before;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
    ASSERT_FALSE(sigismember(&before, SIGHUP));
    {
        ReloadRequests requests;
        ASSERT_EQ(::raise(SIGHUP), 0);
        EXPECT_TRUE(requests.WaitFor(5000));
        ASSERT_EQ(::raise(SIGHUP), 0);  // nobody waits for this one
    }
    sigset_t after;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
    EXPECT_FALSE(sigismember(&after, SIGHUP));
    sigset_t pending;
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_FALSE(sigismember(&pending, SIGHUP));
}

}  // namespace
}  // namespace tavren::platform
