#include "platform/reload_request.h"

#include <gtest/gtest.h>

#include "platform/signals.h"

namespace tavren::platform {
namespace {

// The command line's request reaches a headless runner (through its
// control signals) and a tray (through ReloadRequests) of the process id
// in the lock; a process that takes no requests is told apart, so that
// the user hears to restart it.
TEST(ReloadRequestTest, ReachesTheWatcherOfTheProcessId) {
    const long self = CurrentProcessId();
    EXPECT_EQ(AskToReload(self), ReloadRequest::Unsupported);
    {
        ControlSignals signals;
        ASSERT_EQ(AskToReload(self), ReloadRequest::Sent);
        EXPECT_EQ(signals.Wait(), ControlSignal::Reload);
    }
    EXPECT_EQ(AskToReload(self), ReloadRequest::Unsupported);
    ReloadRequests requests;
    EXPECT_FALSE(requests.WaitFor(10));
    ASSERT_EQ(AskToReload(self), ReloadRequest::Sent);
    EXPECT_TRUE(requests.WaitFor(5000));
    EXPECT_FALSE(requests.WaitFor(10));
}

}  // namespace
}  // namespace tavren::platform
