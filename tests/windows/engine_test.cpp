#include <gtest/gtest.h>

#include "engine/rescan.h"
#include "platform/win32/win32_util.h"
#include "win_test_util.h"

namespace tavren::engine {
namespace {

// Windows' errors for a share, server or drive that does not answer leave
// the entry waiting for its folder, not taking it for missing (whose files
// would all be new when it comes); the reason is in the system's words, as
// UTF-8 like all of the program's text.
TEST(EngineOnWindows, SharesAndDrivesOutOfReachAreNoMissingFolders) {
    struct Case {
        DWORD code;
        const char* reason;  // how it begins; empty: the folder is not away
    };
    for (const auto& [code, expected] : {
             Case{ERROR_PATH_NOT_FOUND, "フォルダがありません"},
             Case{ERROR_BAD_NETPATH, "フォルダに届きません ("},
             Case{ERROR_BAD_NET_NAME, "フォルダに届きません ("},
             Case{ERROR_NETNAME_DELETED, "フォルダに届きません ("},
             Case{ERROR_NOT_READY, "フォルダに届きません ("},
             Case{ERROR_SEM_TIMEOUT, "フォルダに届きません ("},
             Case{ERROR_ACCESS_DENIED, ""},
         }) {
        const std::string reason = AwayReason(platform::win32::ErrorFrom(code));
        EXPECT_TRUE(reason.starts_with(expected) && (*expected || reason.empty()))
            << code << ": " << reason;
        EXPECT_TRUE(reason.empty() ||
                    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reason.data(),
                                          static_cast<int>(reason.size()), nullptr, 0) > 0)
            << code;
    }
}

}  // namespace
}  // namespace tavren::engine
