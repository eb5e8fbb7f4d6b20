#include "platform/file_mover.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

using win32::LastError;

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// The move to another drive, done by hand rather than with
// MOVEFILE_COPY_ALLOWED: that flag reports success when the source cannot
// be deleted after the copy, leaving the file in both places. Here the copy
// is complete and on disk under its final name before the source goes, and
// a failure leaves the source alone with no copy behind.
std::error_code MoveAcross(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool replace) {
    const DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        return std::make_error_code(std::errc::cross_device_link);  // only plain files are copied
    }
    // The source must be removable at the end; learn that before copying.
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        return std::make_error_code(std::errc::permission_denied);
    }
    if (!replace && ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return std::make_error_code(std::errc::file_exists);
    }

    // A short name of our own: the destination name may already be as long
    // as a name can be. CopyFileW keeps the content, the attributes and the
    // last-write time, and refuses a name that exists.
    std::filesystem::path temp;
    for (int attempt = 0;; ++attempt) {
        temp = FolderOf(to) / (L".tavren-move-" + win32::UniqueSuffix());
        if (::CopyFileW(from.c_str(), temp.c_str(), TRUE)) break;
        const DWORD error = ::GetLastError();
        if (attempt == 100 || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) {
            return win32::ErrorFrom(error);
        }
    }
    auto fail = [&](std::error_code ec) {
        ::DeleteFileW(temp.c_str());
        return ec;
    };
    {
        win32::UniqueHandle copy(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy || !::FlushFileBuffers(copy.get())) return fail(LastError());
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(temp.c_str(), to.c_str(), flags)) return fail(LastError());

    if (!::DeleteFileW(from.c_str())) {
        const std::error_code ec = LastError();
        // Undo what can be undone: a name we took. A replaced file is gone
        // already, so its complete replacement stays.
        if (!replace) ::DeleteFileW(to.c_str());
        return ec;
    }
    return {};
}

class Win32FileMover final : public FileMover {
public:
    std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace) override {
        // Without MOVEFILE_REPLACE_EXISTING a taken name fails with
        // ERROR_ALREADY_EXISTS, decided by the file system itself, so no
        // other writer can slip in between a check and the rename.
        if (::MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
            return {};
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_NOT_SAME_DEVICE) return win32::ErrorFrom(error);
        return MoveAcross(from, to, replace);
    }

    bool Exists(const std::filesystem::path& path) override {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

}  // namespace

std::unique_ptr<FileMover> MakeFileMover() {
    return std::make_unique<Win32FileMover>();
}

}  // namespace tavren::platform
