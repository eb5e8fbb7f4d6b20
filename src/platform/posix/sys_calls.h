#pragma once

// The system calls that change files, as the platform layer makes them:
// each asks the installed fault plan first, and fails as the system would
// (-1 and errno) when the plan says so.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/fault_plan.h"

namespace tavren::platform::sys {

inline int ErrnoOf(Fault fault) {
    switch (fault) {
    case Fault::None: return 0;
    case Fault::Io: return EIO;
    case Fault::NoSpace: return ENOSPC;
    case Fault::Access: return EACCES;
    case Fault::Interrupted: return EINTR;
    case Fault::CrossDevice: return EXDEV;
    case Fault::Sharing: return EBUSY;
    }
    return EIO;
}

// True, with errno set, when the plan fails this call.
inline bool Fails(SysCall call) {
    const Fault fault = PlannedFault(call);
    if (fault == Fault::None) return false;
    errno = ErrnoOf(fault);
    return true;
}

inline int open(const char* path, int flags, mode_t mode = 0) {
    return Fails(SysCall::Open) ? -1 : ::open(path, flags, mode);
}
inline int mkostemp(char* pattern, int flags) {
    return Fails(SysCall::MakeTemp) ? -1 : ::mkostemp(pattern, flags);
}
inline ssize_t read(int fd, void* buffer, size_t size) {
    return Fails(SysCall::Read) ? -1 : ::read(fd, buffer, size);
}
inline ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    return Fails(SysCall::Read) ? -1 : ::pread(fd, buffer, size, offset);
}
inline ssize_t write(int fd, const void* buffer, size_t size) {
    return Fails(SysCall::Write) ? -1 : ::write(fd, buffer, size);
}
inline ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    return Fails(SysCall::Write) ? -1 : ::pwrite(fd, buffer, size, offset);
}
inline int ftruncate(int fd, off_t length) {
    return Fails(SysCall::Resize) ? -1 : ::ftruncate(fd, length);
}
inline int fchmod(int fd, mode_t mode) {
    return Fails(SysCall::Attributes) ? -1 : ::fchmod(fd, mode);
}
inline int futimens(int fd, const timespec times[2]) {
    return Fails(SysCall::Attributes) ? -1 : ::futimens(fd, times);
}
inline int fsync(int fd) {
    return Fails(SysCall::Sync) ? -1 : ::fsync(fd);
}
inline int fdatasync(int fd) {
    return Fails(SysCall::Sync) ? -1 : ::fdatasync(fd);
}
// A failed close still releases the descriptor, as close itself does.
inline int close(int fd) {
    if (Fails(SysCall::Close)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return ::close(fd);
}
inline int rename(const char* from, const char* to) {
    return Fails(SysCall::Rename) ? -1 : ::rename(from, to);
}
inline int renameat2(int fromDir, const char* from, int toDir, const char* to,
                     unsigned int flags) {
    return Fails(SysCall::Rename) ? -1 : ::renameat2(fromDir, from, toDir, to, flags);
}
inline int link(const char* from, const char* to) {
    return Fails(SysCall::Link) ? -1 : ::link(from, to);
}
inline int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    return Fails(SysCall::Link) ? -1 : ::linkat(fromDir, from, toDir, to, flags);
}
inline int symlink(const char* target, const char* path) {
    return Fails(SysCall::Link) ? -1 : ::symlink(target, path);
}
inline int unlink(const char* path) {
    return Fails(SysCall::Remove) ? -1 : ::unlink(path);
}
inline int flock(int fd, int operation) {
    return Fails(SysCall::Lock) ? -1 : ::flock(fd, operation);
}
inline int mkdir(const char* path, mode_t mode) {
    return Fails(SysCall::MakeFolder) ? -1 : ::mkdir(path, mode);
}

}  // namespace tavren::platform::sys
