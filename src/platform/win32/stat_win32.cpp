#include "platform/fs.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

std::error_code StatFile(const std::filesystem::path& file, DirEntry& out) {
    // No access rights asked: describing a file must not conflict with its
    // writer's share mode.
    win32::UniqueHandle h(
        ::CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return win32::OpenError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h.get(), &info)) return win32::LastError();
    out.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    out.mtimeSeconds = win32::FileTimeToUnixSeconds(info.ftLastWriteTime);
    const std::uint64_t ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime;
    out.mtimeNanoseconds = static_cast<std::int32_t>((ticks % 10'000'000) * 100);
    out.id = {info.dwVolumeSerialNumber,
              (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return {};
}

// Windows' change notifications serve local disks, and SMB shares, whose
// server reports the changes of every client and its own. An NFS client
// has nothing to ask the server for: changes from elsewhere go unseen.
std::string UnnotifiedFileSystem(const std::filesystem::path& folder) {
    wchar_t volume[MAX_PATH + 1];
    wchar_t system[MAX_PATH + 1];
    if (!::GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) ||
        !::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, system,
                                 MAX_PATH + 1)) {
        return {};
    }
    return ::CompareStringOrdinal(system, -1, L"NFS", -1, TRUE) == CSTR_EQUAL ? "nfs" : "";
}

}  // namespace tavren::platform
