#include <vector>

#include "platform/file_mover.h"
#include "platform/fs.h"
#include "platform/win32/sys_calls.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

using win32::LastError;

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// The move to another drive, done by hand rather than with
// MOVEFILE_COPY_ALLOWED: that flag reports success when the source cannot
// be deleted after the copy, leaving the file in both places, and a copy
// cut short leaves a partial file under the final name. Here the copy is
// complete and on disk under its final name before the source goes, and a
// failure, or the process killed, leaves the source alone with no partial
// copy behind.
std::error_code MoveAcross(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool replace, const WakeEvent& cancel) {
    const auto canceled = std::make_error_code(std::errc::operation_canceled);
    if (cancel.IsSet()) return canceled;
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        return std::make_error_code(std::errc::cross_device_link);  // only plain files are copied
    }
    // The source must be removable at the end; learn that before copying.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        return std::make_error_code(std::errc::permission_denied);
    }
    if (!replace && Exists(to)) {
        return std::make_error_code(std::errc::file_exists);
    }

    // The source stays open until it is deleted, through this very handle,
    // with a share mode that admits no writer: a file that someone still
    // writes is not moved (a sharing violation, reported as busy, to be
    // tried again), and no writer can get in between the copy and the
    // deletion.
    win32::UniqueHandle source(sys::CreateFileW(from.c_str(), GENERIC_READ | DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!source) return LastError();

    // The copy goes into a hidden file of our own (the destination name may
    // already be as long as a name can be) that is marked for deletion
    // while it is written: a process killed mid-copy leaves nothing in the
    // user's folder. The mark is cleared only once the copy is on disk; what
    // a kill after that leaves, RemoveLeftovers knows by its name.
    std::filesystem::path temp;
    win32::UniqueHandle copy;
    const long pid = static_cast<long>(::GetCurrentProcessId());
    for (int attempt = 0; attempt < 100 && !copy; ++attempt) {
        temp = FolderOf(to) /
               win32::Widen(MoveTemporaryName(pid, win32::Narrow(win32::UniqueSuffix())));
        copy.Reset(
            sys::CreateTempFileW(temp.c_str(), GENERIC_WRITE | DELETE, FILE_ATTRIBUTE_HIDDEN));
        if (!copy && ::GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!copy) return std::make_error_code(std::errc::file_exists);
    if (!sys::SetDeleteOnClose(copy.get(), true)) {
        const std::error_code ec = LastError();
        copy.Reset();
        sys::DeleteFileW(temp.c_str());
        return ec;
    }
    // From here on closing the handle removes the copy.
    auto fail = [&](std::error_code ec) {
        copy.Reset();
        return ec;
    };
    std::vector<char> buffer(1 << 20);
    for (;;) {
        if (cancel.IsSet()) return fail(canceled);
        DWORD got = 0;
        if (!sys::ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                           nullptr)) {
            return fail(LastError());
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!sys::WriteFile(copy.get(), buffer.data(), got, &put, nullptr)) {
            return fail(LastError());
        }
        // A short write sets no error: without one the move would pass for done.
        if (put != got) return fail(std::make_error_code(std::errc::no_space_on_device));
    }
    // The copy keeps the file's last-write time, as a move does.
    FILETIME lastWrite;
    if (!::GetFileTime(source.get(), nullptr, nullptr, &lastWrite) ||
        !sys::SetFileTime(copy.get(), nullptr, nullptr, &lastWrite)) {
        return fail(LastError());
    }
    if (!sys::FlushFileBuffers(copy.get())) return fail(LastError());
    if (!sys::SetDeleteOnClose(copy.get(), false)) return fail(LastError());
    copy.Reset();
    // A kill between here and the rename leaves a complete copy, never a
    // partial one; a failed rename removes it.
    auto failNamed = [&](std::error_code ec) {
        sys::DeleteFileW(temp.c_str());
        return ec;
    };
    // Unhidden before it takes the file's name, or the user would not see it.
    if (!sys::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        return failNamed(LastError());
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!sys::MoveFileExW(temp.c_str(), to.c_str(), flags)) return failNamed(LastError());

    if (!sys::SetDeleteOnClose(source.get(), true)) {
        const std::error_code ec = LastError();
        // Undo what can be undone: a name we took. A replaced file is gone
        // already, so its complete replacement stays.
        if (!replace) sys::DeleteFileW(to.c_str());
        return ec;
    }
    return {};
}

class Win32FileMover final : public FileMover {
public:
    std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace, const WakeEvent& cancel) override {
        // Without MOVEFILE_REPLACE_EXISTING a taken name fails with
        // ERROR_ALREADY_EXISTS, decided by the file system itself, so no
        // other writer can slip in between a check and the rename. A file
        // that another process holds open is refused as a sharing
        // violation, which ErrorFrom reports as busy: to be tried again.
        if (sys::MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
            return {};
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_NOT_SAME_DEVICE) return win32::ErrorFrom(error);
        return MoveAcross(from, to, replace, cancel);
    }

    bool Exists(const std::filesystem::path& path) override { return platform::Exists(path); }

    std::vector<std::filesystem::path> RemoveLeftovers(
        const std::filesystem::path& folder) override {
        return RemoveMoveLeftovers(folder);
    }
};

}  // namespace

std::unique_ptr<FileMover> MakeFileMover() {
    return std::make_unique<Win32FileMover>();
}

}  // namespace tavren::platform
