#pragma once

// The Win32 calls that change files, as the platform layer makes them: each
// asks the installed fault plan first, and fails as the system would (its
// failure value, with the mapped code for GetLastError) when the plan says
// so.

#include <windows.h>

#include "platform/fault_plan.h"

namespace tavren::platform::sys {

inline DWORD ErrorOf(Fault fault) {
    switch (fault) {
        case Fault::None:
            return ERROR_SUCCESS;
        case Fault::Io:
            return ERROR_IO_DEVICE;
        case Fault::NoSpace:
            return ERROR_DISK_FULL;
        case Fault::Access:
            return ERROR_ACCESS_DENIED;
        case Fault::Interrupted:
            return ERROR_OPERATION_ABORTED;
        case Fault::CrossDevice:
            return ERROR_NOT_SAME_DEVICE;
        case Fault::Sharing:
            return ERROR_SHARING_VIOLATION;
    }
    return ERROR_IO_DEVICE;
}

// True, with the last error set, when the plan fails this call.
inline bool Fails(SysCall call) {
    const Fault fault = PlannedFault(call);
    if (fault == Fault::None) return false;
    ::SetLastError(ErrorOf(fault));
    return true;
}

inline HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share,
                          SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                          HANDLE templateFile = nullptr) {
    return Fails(SysCall::Open)
               ? INVALID_HANDLE_VALUE
               : ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}
// A fresh file under a name of our own (CREATE_NEW): what mkostemp is on POSIX.
inline HANDLE CreateTempFileW(const wchar_t* path, DWORD access, DWORD flags) {
    return Fails(SysCall::MakeTemp)
               ? INVALID_HANDLE_VALUE
               : ::CreateFileW(path, access, 0, nullptr, CREATE_NEW, flags, nullptr);
}
inline BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* got, OVERLAPPED* at) {
    return Fails(SysCall::Read) ? FALSE : ::ReadFile(file, buffer, size, got, at);
}
inline BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* put, OVERLAPPED* at) {
    return Fails(SysCall::Write) ? FALSE : ::WriteFile(file, buffer, size, put, at);
}
inline BOOL SetEndOfFile(HANDLE file) {
    return Fails(SysCall::Resize) ? FALSE : ::SetEndOfFile(file);
}
inline BOOL SetFileTime(HANDLE file, const FILETIME* created, const FILETIME* accessed,
                        const FILETIME* written) {
    return Fails(SysCall::Attributes) ? FALSE : ::SetFileTime(file, created, accessed, written);
}
inline BOOL SetFileAttributesW(const wchar_t* path, DWORD attributes) {
    return Fails(SysCall::Attributes) ? FALSE : ::SetFileAttributesW(path, attributes);
}
// Marks an open file to go when its last handle closes, or takes the mark
// back: the one a removal, the other a change of the file's state.
inline BOOL SetDeleteOnClose(HANDLE file, bool remove) {
    if (Fails(remove ? SysCall::Remove : SysCall::Attributes)) return FALSE;
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}
inline BOOL FlushFileBuffers(HANDLE file) {
    return Fails(SysCall::Sync) ? FALSE : ::FlushFileBuffers(file);
}
inline BOOL MoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags) {
    return Fails(SysCall::Rename) ? FALSE : ::MoveFileExW(from, to, flags);
}
inline BOOL DeleteFileW(const wchar_t* path) {
    return Fails(SysCall::Remove) ? FALSE : ::DeleteFileW(path);
}
inline BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high,
                       OVERLAPPED* at) {
    return Fails(SysCall::Lock) ? FALSE : ::LockFileEx(file, flags, reserved, low, high, at);
}
inline BOOL CreateDirectoryW(const wchar_t* path, SECURITY_ATTRIBUTES* security) {
    return Fails(SysCall::MakeFolder) ? FALSE : ::CreateDirectoryW(path, security);
}

}  // namespace tavren::platform::sys
