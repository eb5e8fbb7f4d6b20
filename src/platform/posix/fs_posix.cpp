#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/fs.h"
#include "platform/posix/lease.h"
#include "platform/posix/sys_calls.h"
#include "platform/posix/unique_fd.h"

namespace tavren::platform {
namespace {

using posix::UniqueFd;

std::error_code LastError() {
    return {errno, std::generic_category()};
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

std::error_code WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = sys::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

}  // namespace

std::error_code ListFolder(const std::filesystem::path& folder, std::vector<DirEntry>& out) {
    out.clear();
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return LastError();
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd.get()));
    if (!dir) return LastError();
    const int dfd = fd.Release();  // now owned by `dir`

    // A failed listing holds nothing: a partial one would make the files
    // left out look deleted.
    auto fail = [&out](int error) {
        out.clear();
        return std::error_code(error, std::generic_category());
    };
    for (;;) {
        // readdir reports an error only through errno.
        errno = 0;
        const dirent* e = ::readdir(dir.get());
        if (e == nullptr) break;
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        DirEntry entry;
        entry.name = name;
        if (e->d_type == DT_DIR) {
            entry.isDirectory = true;  // never a target: no need to stat it
            out.push_back(std::move(entry));
            continue;
        }
        struct stat st {};
        if (::fstatat(dfd, name, &st, 0) != 0) {
            const int error = errno;
            if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;  // gone between readdir and stat
                return fail(errno);
            }
            // A link that leads nowhere is described as a file of its own.
            // One that cannot be followed for another reason (into a folder
            // we may not enter, an I/O error) fails the listing.
            if (error != ENOENT && error != ENOTDIR && error != ELOOP && error != ENAMETOOLONG) {
                return fail(error);
            }
        }
        entry.isDirectory = S_ISDIR(st.st_mode);
        entry.size = static_cast<std::uint64_t>(st.st_size);
        entry.mtimeSeconds = st.st_mtim.tv_sec;
        entry.mtimeNanoseconds = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
        entry.ctimeNs = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
        entry.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        out.push_back(std::move(entry));
    }
    if (errno != 0) return fail(errno);
    return {};
}

std::error_code ReadFile(const std::filesystem::path& file, std::string& out, std::size_t maxBytes,
                         std::uint64_t offset) {
    out.clear();
    // Without O_NONBLOCK opening a FIFO would wait for a writer forever.
    UniqueFd fd(sys::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return LastError();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    if (static_cast<std::uint64_t>(st.st_size) > offset) {
        out.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size - offset), maxBytes));
    }
    char buffer[64 * 1024];
    while (out.size() < maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes - out.size());
        const ssize_t n = sys::pread(fd.get(), buffer, want, static_cast<off_t>(offset + out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return {};
}

std::error_code WriteFileAtomically(const std::filesystem::path& file, std::string_view data) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::string temp = (folder / ("." + file.filename().string() + ".tmp.XXXXXX")).string();
    UniqueFd fd(sys::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return LastError();

    auto fail = [&](std::error_code ec) {
        fd.Reset();
        sys::unlink(temp.c_str());
        return ec;
    };

    // Keep the permissions of the file being replaced; a new one gets the
    // usual rw-r--r-- instead of mkstemp's owner-only mode.
    struct stat old {};
    const mode_t mode = ::stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (sys::fchmod(fd.get(), mode) != 0) return fail(LastError());
    if (auto ec = WriteAll(fd.get(), data)) return fail(ec);
    if (sys::fsync(fd.get()) != 0) return fail(LastError());
    if (sys::close(fd.Release()) != 0) return fail(LastError());
    if (sys::rename(temp.c_str(), file.c_str()) != 0) return fail(LastError());

    // Make the rename itself durable; a failure here cannot undo it.
    if (UniqueFd dir(sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir) {
        sys::fsync(dir.get());
    }
    return {};
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& folder, std::int64_t minAgeSeconds,
                               std::string_view namePrefix) {
    std::vector<DirEntry> entries;
    if (ListFolder(folder, entries)) return;
    const time_t now = ::time(nullptr);
    for (const DirEntry& e : entries) {
        // ".<name>.tmp.XXXXXX", as WriteFileAtomically names them.
        const std::size_t mark = e.name.rfind(".tmp.");
        if (e.isDirectory || e.name.front() != '.' || mark == std::string::npos ||
            e.name.size() - mark != 11 || e.name.rfind(namePrefix, 0) != 0) {
            continue;
        }
        if (now - e.mtimeSeconds >= minAgeSeconds) sys::unlink((folder / e.name).c_str());
    }
}

std::error_code RemoveFile(const std::filesystem::path& file) {
    if (sys::unlink(file.c_str()) == 0 || errno == ENOENT) return {};
    return LastError();
}

WriterState ProbeWriters(const std::filesystem::path& file) {
    // Three calls, as this runs for every new file of a burst: anything but
    // a regular file refuses the lease (EINVAL), and closing the descriptor
    // releases it.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return WriterState::Unknown;
    const int error = posix::TakeReadLease(fd.get());
    if (error == 0) return WriterState::None;
    return error == EAGAIN ? WriterState::Writing : WriterState::Unknown;
}

FileId FileIdentity(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool IsFolder(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace tavren::platform
