#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

using win32::FindHandle;
using win32::LastError;
using win32::UniqueHandle;

// The search string that lists everything in `folder`.
std::wstring AllIn(const std::filesystem::path& folder) {
    std::wstring search = folder.native();
    if (!search.empty() && search.back() != L'\\' && search.back() != L'/' &&
        search.back() != L':') {
        search += L'\\';
    }
    return search + L'*';
}

// The listing shows a symbolic link (any reparse point) itself; describe
// what it points to instead, as stat does. A dangling link stays a file.
void FollowLink(const std::filesystem::path& file, DirEntry& entry) {
    UniqueHandle h(::CreateFileW(file.c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || !::GetFileInformationByHandle(h.get(), &info)) return;
    entry.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    entry.mtimeSeconds = win32::FileTimeToUnixSeconds(info.ftLastWriteTime);
}

std::error_code WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), chunk, &written, nullptr)) return LastError();
        data.remove_prefix(written);
    }
    return {};
}

}  // namespace

std::error_code ListFolder(const std::filesystem::path& folder, std::vector<DirEntry>& out) {
    out.clear();
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW(AllIn(folder).c_str(), &data));
    if (!find) {
        const DWORD error = ::GetLastError();
        // An existing folder without even "." and ".." (a drive's root).
        if (error == ERROR_FILE_NOT_FOUND && IsFolder(folder)) return {};
        return win32::ErrorFrom(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    }
    do {
        const wchar_t* name = data.cFileName;
        if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0')))
            continue;
        DirEntry entry;
        entry.name = win32::Narrow(name);
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        entry.mtimeSeconds = win32::FileTimeToUnixSeconds(data.ftLastWriteTime);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) FollowLink(folder / name, entry);
        out.push_back(std::move(entry));
    } while (::FindNextFileW(find.get(), &data));
    if (const DWORD error = ::GetLastError(); error != ERROR_NO_MORE_FILES) {
        return win32::ErrorFrom(error);
    }
    return {};
}

std::error_code ReadFile(const std::filesystem::path& file, std::string& out,
                         std::size_t maxBytes) {
    out.clear();
    // Shared with writers and deleters: a reader must never get in the way
    // of the program that owns the file.
    UniqueHandle h(::CreateFileW(file.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        const std::error_code ec = LastError();
        if (IsFolder(file)) return std::make_error_code(std::errc::is_a_directory);
        return ec;
    }
    LARGE_INTEGER size;
    if (::GetFileSizeEx(h.get(), &size) && size.QuadPart > 0) {
        out.reserve(std::min<std::size_t>(static_cast<std::size_t>(size.QuadPart), maxBytes));
    }
    char buffer[64 * 1024];
    while (out.size() < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes - out.size()));
        DWORD got = 0;
        if (!::ReadFile(h.get(), buffer, want, &got, nullptr)) return LastError();
        if (got == 0) break;
        out.append(buffer, got);
    }
    return {};
}

std::error_code WriteFileAtomically(const std::filesystem::path& file, std::string_view data) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const std::wstring prefix = (folder / (L"." + file.filename().native() + L".tmp.")).native();

    // The same temporary name as on POSIX (".<name>.tmp.XXXXXX"), so that
    // RemoveStaleTemporaryFiles finds what a crash left behind.
    std::wstring temp;
    UniqueHandle h;
    for (int attempt = 0; attempt < 100 && !h; ++attempt) {
        temp = prefix + win32::UniqueSuffix();
        h.Reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h && ::GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!h) return std::make_error_code(std::errc::file_exists);

    auto fail = [&](std::error_code ec) {
        h.Reset();
        ::DeleteFileW(temp.c_str());
        return ec;
    };
    if (auto ec = WriteAll(h.get(), data)) return fail(ec);
    if (!::FlushFileBuffers(h.get())) return fail(LastError());
    h.Reset();
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
    if (!::MoveFileExW(temp.c_str(), file.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail(LastError());
    }
    return {};
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& folder, std::int64_t minAgeSeconds) {
    std::vector<DirEntry> entries;
    if (ListFolder(folder, entries)) return;
    const std::int64_t now = NowSeconds();
    for (const DirEntry& e : entries) {
        // ".<name>.tmp.XXXXXX", as WriteFileAtomically names them.
        const std::size_t mark = e.name.rfind(".tmp.");
        if (e.isDirectory || e.name.front() != '.' || mark == std::string::npos ||
            e.name.size() - mark != 11) {
            continue;
        }
        if (now - e.mtimeSeconds >= minAgeSeconds) {
            ::DeleteFileW((folder / win32::Widen(e.name)).c_str());
        }
    }
}

bool IsFolder(const std::filesystem::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::filesystem::path& path) {
    // Like lstat: a link is there even when its target is not.
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tavren::platform
