#include <windows.h>

#include "platform/folder_ops.h"

namespace tavren::platform {

bool PathExists(const std::filesystem::path& path) {
    // Opening follows links, so a dangling one names nothing; folders need
    // the backup-semantics flag to be opened at all.
    HANDLE h =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

std::error_code CreateFolder(const std::filesystem::path& path) {
    if (!::CreateDirectoryW(path.c_str(), nullptr)) {
        return {static_cast<int>(::GetLastError()), std::system_category()};
    }
    return {};
}

bool MayReplaceFile(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : L".";
    const DWORD folderAttributes = ::GetFileAttributesW(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES ||
        !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

}  // namespace tavren::platform
