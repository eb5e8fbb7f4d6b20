#pragma once

#include <filesystem>
#include <memory>
#include <system_error>

namespace tavren::platform {

// A lock that one process at a time holds on a file, for as long as the
// object lives: two watchers on one data folder would both act on every
// file. The holder's process id is written into the file, so that a second
// process can say who has it. The lock ends with the process, also when it
// is killed, so a stale file never locks anybody out.
class FileLock {
public:
    virtual ~FileLock() = default;
};

// Takes the lock of `file`, creating the file when missing. When another
// process holds it: nullptr, `holderPid` its process id (0 when it cannot be
// read) and `ec` std::errc::resource_unavailable_try_again. On other
// failures: nullptr and `ec` the error.
std::unique_ptr<FileLock> LockFile(const std::filesystem::path& file, long& holderPid,
                                   std::error_code& ec);

}  // namespace tavren::platform
