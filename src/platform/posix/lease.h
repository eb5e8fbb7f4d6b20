#pragma once

#include <fcntl.h>
#include <signal.h>

#include <cerrno>

namespace tavren::platform::posix {

// Read leases (F_SETLEASE F_RDLCK) tell whether a file is open for writing:
// the owner of a file (or a process with CAP_LEASE) gets one only while
// nobody has it open for writing. While one is held, a process opening the
// file for writing waits until it is released, and the holder is sent SIGIO,
// whose default action ends the process. Nothing of ours uses SIGIO, so it
// is ignored, once for the whole process, before the first lease; started
// programs get its default back (see process_posix.cpp).
inline void IgnoreLeaseBreakSignal() {
    static const bool ignored = [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGIO, &ignore, nullptr) == 0;
    }();
    (void)ignored;
}

// Takes a read lease on `fd` (opened read-only). Returns 0, or the errno:
// EAGAIN when some process has the file open for writing; EACCES for a file
// of another user without CAP_LEASE, EINVAL where the file system has no
// leases or the file is not a regular one.
inline int TakeReadLease(int fd) {
    IgnoreLeaseBreakSignal();
    return ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 0 : errno;
}

// True while the lease taken on `fd` is unbroken: no process has started to
// open the file for writing since (such a one waits for the release).
inline bool LeaseIntact(int fd) {
    return ::fcntl(fd, F_GETLEASE) == F_RDLCK;
}

inline void ReleaseLease(int fd) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
}

}  // namespace tavren::platform::posix
