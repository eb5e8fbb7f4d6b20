#include "platform/reload_request.h"

#include <gtest/gtest.h>

#include "platform/signals.h"

namespace tavren::platform {
namespace {

// The command line's request reaches the watcher of the process id in the
// lock (a headless runner or a tray, through its control signals); a
// process that takes no requests is told apart, so that the user hears to
// restart it.
TEST(ReloadRequestTest, ReachesTheWatcherOfTheProcessId) {
    const long self = CurrentProcessId();
    EXPECT_EQ(AskToReload(self), ReloadRequest::Unsupported);
    {
        ControlSignals signals;
        EXPECT_EQ(signals.WaitFor(10), std::nullopt);
        ASSERT_EQ(AskToReload(self), ReloadRequest::Sent);
        EXPECT_EQ(signals.WaitFor(5000), ControlSignal::Reload);
    }
    EXPECT_EQ(AskToReload(self), ReloadRequest::Unsupported);
}

}  // namespace
}  // namespace tavren::platform
