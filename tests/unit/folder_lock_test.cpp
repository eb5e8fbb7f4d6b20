#include "platform/folder_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

using test::ReadBytes;
using test::TempDir;

// A second lock of the file fails even in the same process, tells who holds
// it, and is free again once the first is gone. The holder's pid replaces
// the longer one an earlier holder left behind.
TEST(LockFile, ExcludesASecondHolderUntilTheFirstIsGone) {
    TempDir tmp;
    const auto file = tmp / "tavren3.lock";
    test::WriteBytes(file, "4000000000\n");
    long holder = -1;
    std::error_code ec;
    auto first = LockFile(file, holder, ec);
    ASSERT_TRUE(first) << ec.message();

    EXPECT_FALSE(LockFile(file, holder, ec));
    EXPECT_EQ(ec, std::errc::resource_unavailable_try_again);
    EXPECT_GT(holder, 0);
    EXPECT_EQ(ReadBytes(file), std::to_string(holder) + "\n");

    first.reset();
    EXPECT_TRUE(LockFile(file, holder, ec)) << ec.message();
    EXPECT_FALSE(ec);
}

// Only a holder means "in use": a lock that cannot be made for another
// reason must not read as one, or an unwritable data folder would stop the
// program instead of letting it watch unlocked.
TEST(LockFile, OtherFailuresAreNotTakenForAHolder) {
    TempDir tmp;
    long holder = -1;
    std::error_code ec;
    EXPECT_FALSE(LockFile(tmp / "missing" / "tavren3.lock", holder, ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_EQ(holder, 0);
}

}  // namespace
}  // namespace tavren::platform
