#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/win32/sys_calls.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

using win32::LastError;
using win32::UniqueHandle;

// 100 ns ticks between 1601-01-01 and 1970-01-01, and in a second.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

// A last-write time in FILETIME ticks as seconds and nanoseconds since the
// epoch, the seconds rounded down as st_mtim's are for times before 1970.
void SetMtime(DirEntry& entry, std::int64_t ticks) {
    const std::int64_t since1970 = ticks - kEpochTicks;
    std::int64_t seconds = since1970 / kTicksPerSecond;
    std::int64_t fraction = since1970 % kTicksPerSecond;
    if (fraction < 0) {
        --seconds;
        fraction += kTicksPerSecond;
    }
    entry.mtimeSeconds = seconds;
    entry.mtimeNanoseconds = static_cast<std::int32_t>(fraction * 100);
}

std::error_code WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!sys::WriteFile(file, data.data(), chunk, &written, nullptr)) return LastError();
        data.remove_prefix(written);
    }
    return {};
}

}  // namespace

std::error_code ListFolder(const std::filesystem::path& folder, std::vector<DirEntry>& out) {
    out.clear();
    // Listed through a handle of the folder: its entries come with their
    // file ids, and the folder's volume serial completes them, with no open
    // of each file.
    UniqueHandle dir(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) return win32::OpenError();
    BY_HANDLE_FILE_INFORMATION self;
    if (!::GetFileInformationByHandle(dir.get(), &self)) return LastError();
    if (!(self.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    // FILE_ID_BOTH_DIR_INFO holds 64-bit fields: the buffer keeps them aligned.
    std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
    const DWORD bufferBytes = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    for (;;) {
        if (!::GetFileInformationByHandleEx(dir.get(), FileIdBothDirectoryInfo, buffer.data(),
                                            bufferBytes)) {
            // No more entries, or none at all (a drive's root lists no "." either).
            if (::GetLastError() == ERROR_NO_MORE_FILES) return {};
            return LastError();
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto& data = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            const std::wstring_view name(data.FileName, data.FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                DirEntry entry;
                entry.name = win32::Narrow(name);
                entry.isDirectory = (data.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                entry.size = static_cast<std::uint64_t>(data.EndOfFile.QuadPart);
                SetMtime(entry, data.LastWriteTime.QuadPart);
                entry.id = {self.dwVolumeSerialNumber,
                            static_cast<std::uint64_t>(data.FileId.QuadPart)};
                bool keep = true;
                if (data.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    // A link is described by what it points to, as stat
                    // does. A dangling one stays a file of its own; one that
                    // has gone meanwhile is left out.
                    const std::filesystem::path link = folder / std::wstring(name);
                    if (const std::error_code ec = StatFile(link, entry)) {
                        if (ec != std::errc::no_such_file_or_directory) return ec;
                        keep = Exists(link);
                    }
                }
                if (keep) out.push_back(std::move(entry));
            }
            if (data.NextEntryOffset == 0) break;
            bytes += data.NextEntryOffset;
        }
    }
}

std::error_code ReadFile(const std::filesystem::path& file, std::string& out, std::size_t maxBytes,
                         std::uint64_t offset) {
    out.clear();
    // Shared with writers and deleters: a reader must never get in the way
    // of the program that owns the file.
    UniqueHandle h(sys::CreateFileW(file.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!h) {
        const std::error_code ec = LastError();
        if (IsFolder(file)) return std::make_error_code(std::errc::invalid_argument);
        return ec;
    }
    // A pipe, a console or another device could block a read or never end.
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    LARGE_INTEGER size;
    if (::GetFileSizeEx(h.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) > offset) {
        out.reserve(
            std::min<std::size_t>(static_cast<std::size_t>(size.QuadPart - offset), maxBytes));
    }
    LARGE_INTEGER from;
    from.QuadPart = static_cast<LONGLONG>(offset);
    if (offset != 0 && !::SetFilePointerEx(h.get(), from, nullptr, FILE_BEGIN)) return LastError();
    char buffer[64 * 1024];
    while (out.size() < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes - out.size()));
        DWORD got = 0;
        if (!sys::ReadFile(h.get(), buffer, want, &got, nullptr)) return LastError();
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
        h.Reset(sys::CreateTempFileW(temp.c_str(), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL));
        if (!h && ::GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!h) return std::make_error_code(std::errc::file_exists);

    auto fail = [&](std::error_code ec) {
        h.Reset();
        sys::DeleteFileW(temp.c_str());
        return ec;
    };
    if (auto ec = WriteAll(h.get(), data)) return fail(ec);
    if (!sys::FlushFileBuffers(h.get())) return fail(LastError());
    h.Reset();
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
    if (!sys::MoveFileExW(temp.c_str(), file.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail(LastError());
    }
    return {};
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& folder, std::int64_t minAgeSeconds,
                               std::string_view namePrefix) {
    std::vector<DirEntry> entries;
    if (ListFolder(folder, entries)) return;
    const std::int64_t now = NowSeconds();
    for (const DirEntry& e : entries) {
        // ".<name>.tmp.XXXXXX", as WriteFileAtomically names them.
        const std::size_t mark = e.name.rfind(".tmp.");
        if (e.isDirectory || e.name.front() != '.' || mark == std::string::npos ||
            e.name.size() - mark != 11 || e.name.rfind(namePrefix, 0) != 0) {
            continue;
        }
        if (now - e.mtimeSeconds >= minAgeSeconds) {
            sys::DeleteFileW((folder / win32::Widen(e.name)).c_str());
        }
    }
}

std::error_code RemoveFile(const std::filesystem::path& file) {
    if (sys::DeleteFileW(file.c_str())) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return win32::ErrorFrom(error);
}

WriterState ProbeWriters(const std::filesystem::path& file) {
    // A share mode without writing is refused while someone has the file
    // open for writing; the open is given up at once.
    const UniqueHandle h(::CreateFileW(file.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h) return WriterState::None;
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? WriterState::Writing
                                                                             : WriterState::Unknown;
}

FileId FileIdentity(const std::filesystem::path& path) {
    DirEntry entry;
    return StatFile(path, entry) ? FileId{} : entry.id;
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
