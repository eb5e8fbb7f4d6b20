#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace tavren::platform {

// The calls of the platform layer that create, change, move or remove files
// (and the reads that decide what is written), each a point where a test can
// make the system fail on purpose. Listings and descriptions of files are
// not among them: their failures are tried elsewhere.
enum class SysCall : std::uint8_t {
    Open,        // open, CreateFileW
    MakeTemp,    // mkostemp and the like: a fresh temporary file
    Read,        // read, pread, ReadFile
    Write,       // write, pwrite, WriteFile
    Resize,      // ftruncate, SetEndOfFile
    Attributes,  // fchmod, futimens, SetFileTime
    Sync,        // fsync, fdatasync, FlushFileBuffers
    Close,       // close, CloseHandle of a written file
    Rename,      // rename, renameat2, MoveFileExW, ReplaceFileW
    Link,        // link, linkat, symlink, CreateHardLinkW
    Remove,      // unlink, DeleteFileW
    Lock,        // flock, LockFileEx
    MakeFolder,  // mkdir, CreateDirectoryW
    Copy,        // copy_file_range, CopyFileExW
};
inline constexpr int kSysCallKinds = 14;
std::string_view SysCallName(SysCall call);

// The failures a plan can make a call return, as each system spells them.
enum class Fault : std::uint8_t {
    None,
    Io,           // EIO, ERROR_IO_DEVICE
    NoSpace,      // ENOSPC, ERROR_DISK_FULL
    Access,       // EACCES, ERROR_ACCESS_DENIED
    Interrupted,  // EINTR; ERROR_OPERATION_ABORTED
    CrossDevice,  // EXDEV, ERROR_NOT_SAME_DEVICE
    Sharing,      // EBUSY; ERROR_SHARING_VIOLATION
};
std::string_view FaultName(Fault fault);

// Decides, call by call, which calls fail: tests install one to fail a
// chosen call of a run. The program never installs one, and then each call
// costs one atomic load. Called from any thread.
class FaultPlan {
public:
    virtual ~FaultPlan() = default;
    virtual Fault Next(SysCall call) = 0;
};

// Installs `plan` (nullptr: none). The plan must outlive its installation
// and every call under way when it is removed.
void InstallFaultPlan(FaultPlan* plan);

namespace detail {
extern std::atomic<FaultPlan*> g_faultPlan;
}

// What the plan says of this call: Fault::None to make it.
inline Fault PlannedFault(SysCall call) {
    FaultPlan* plan = detail::g_faultPlan.load(std::memory_order_acquire);
    return plan ? plan->Next(call) : Fault::None;
}

}  // namespace tavren::platform
