#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_mover.h"
#include "platform/posix/lease.h"
#include "platform/posix/sys_calls.h"
#include "platform/posix/unique_fd.h"

namespace tavren::platform {
namespace {

using posix::UniqueFd;

std::error_code Errno() {
    return {errno, std::generic_category()};
}
std::error_code Error(int value) {
    return {value, std::generic_category()};
}
std::error_code Busy() {
    return std::make_error_code(std::errc::device_or_resource_busy);
}
std::error_code Canceled() {
    return std::make_error_code(std::errc::operation_canceled);
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the file changed between two fstat calls: written, truncated,
// or its attributes touched (which a writer's futimens would do).
bool Changed(const struct stat& before, const struct stat& now) {
    return before.st_size != now.st_size || !SameTime(before.st_mtim, now.st_mtim) ||
           !SameTime(before.st_ctim, now.st_ctim);
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Renames within one file system, failing with EEXIST when `to` is taken.
std::error_code RenameNoReplace(const char* from, const char* to) {
    if (sys::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return Errno();

    // Some file systems (NFS, many FUSE ones) refuse the flag; a hard link
    // is just as exclusive.
    if (sys::link(from, to) == 0) {
        if (sys::unlink(from) == 0) return {};
        const std::error_code ec = Errno();
        sys::unlink(to);
        return ec;
    }
    if (errno != EPERM && errno != ENOTSUP) return Errno();

    // Neither (FAT, folders): check, then rename. Another writer could slip
    // in between; nothing better exists on such a file system.
    struct stat st {};
    if (::lstat(to, &st) == 0) return Error(EEXIST);
    if (sys::rename(from, to) != 0) return Errno();
    return {};
}

// Makes something under a fresh temporary name in `folder` through `make`,
// which returns false with errno EEXIST when the name is taken, and sets
// `name` to its path (cleared on failure). The name carries our process id,
// so that RemoveLeftovers knows whose it is.
template <typename Make>
std::error_code MakeTemporary(const std::filesystem::path& folder, std::string& name, Make make) {
    static constexpr char kDigits[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kDigits - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, '0');
        for (char& c : suffix) c = kDigits[pick(random)];
        name = (folder / MoveTemporaryName(::getpid(), suffix)).string();
        if (make(name.c_str())) return {};
        if (errno != EEXIST) break;
    }
    name.clear();
    return Errno();
}

// Copies `in` to `out`, looking at `cancel` before each chunk. The data is
// sent to disk a megabyte at a time as it is written, waiting for the one
// before: the final fsync, which nothing interrupts, then has little left
// to do, and a cancel never waits for a gigabyte held in the cache.
std::error_code CopyData(int in, int out, const WakeEvent& cancel) {
    constexpr off_t kFlushBytes = 1 << 20;
    std::vector<char> buffer(256 * 1024);
    off_t written = 0;
    off_t flushing = 0;  // the start of the range sent to disk last
    off_t flushed = 0;   // and its end
    for (;;) {
        if (cancel.IsSet()) return Canceled();
        const ssize_t got = sys::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return Errno();
        }
        if (got == 0) return {};
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = sys::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return Errno();
            }
            done += put;
        }
        written += got;
        if (written - flushed >= kFlushBytes) {
            // Errors show in the fsync at the end; some file systems have no
            // such call. (A length of 0 would mean "to the end of the file".)
            ::sync_file_range(out, flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
            if (flushed > flushing) {
                ::sync_file_range(out, flushing, flushed - flushing,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER);
            }
            flushing = std::exchange(flushed, written);
        }
    }
}

// Gives the unnamed file `fd` (opened with O_TMPFILE) the name `to`; fails
// with EEXIST when the name is taken. Must happen while `fd` is open:
// closing an unnamed file frees it.
bool LinkUnnamed(int fd, const char* to) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return sys::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0;
}

// Puts the names just made in `folder` on disk. A folder we may not open
// (write and search rights alone) or a file system that cannot sync one
// (EINVAL) leaves nothing to do; any other failure means the new name may
// not survive a crash, so the source must stay.
std::error_code SyncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(sys::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir && sys::fsync(dir.get()) != 0 && errno != EINVAL) return Errno();
    return {};
}

// A symbolic link moved to another file system is made again there with the
// same target, as mv does; there is no content to copy.
std::error_code MoveLink(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
    if (length < 0) return Errno();
    if (static_cast<std::size_t>(length) == target.size()) return Error(ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(length));

    if (!replace) {
        if (sys::symlink(target.c_str(), to.c_str()) != 0) return Errno();
    } else {
        // Replacing needs a rename, so a name of its own first.
        std::string temp;
        if (auto ec = MakeTemporary(FolderOf(to), temp, [&](const char* name) {
                return sys::symlink(target.c_str(), name) == 0;
            })) {
            return ec;
        }
        if (sys::rename(temp.c_str(), to.c_str()) != 0) {
            const std::error_code ec = Errno();
            sys::unlink(temp.c_str());
            return ec;
        }
    }
    std::error_code ec = SyncFolder(FolderOf(to));
    if (!ec && sys::unlink(from.c_str()) != 0) ec = Errno();
    if (ec && !replace) sys::unlink(to.c_str());  // a replaced link is gone already
    return ec;
}

// The move to another file system: the copy is complete and on disk under
// its final name before the source goes away, so a crash or a full disk
// never loses the file.
std::error_code MoveAcross(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool replace, const WakeEvent& cancel) {
    if (cancel.IsSet()) return Canceled();
    struct stat source {};
    if (::lstat(from.c_str(), &source) != 0) return Errno();
    if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) return Error(EXDEV);
    // A taken name, or one that cannot be (too long, in a missing folder),
    // is told before anything is copied.
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) {
        if (!replace) return Error(EEXIST);
    } else if (errno != ENOENT) {
        return Errno();
    }
    // The source must be removable at the end; learn that before copying.
    if (::faccessat(AT_FDCWD, FolderOf(from).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return Errno();
    }
    if (S_ISLNK(source.st_mode)) return MoveLink(from, to, replace);

    UniqueFd in(sys::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!in) return Errno();
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return Errno();
    if (!S_ISREG(st.st_mode)) return Error(EXDEV);

    // A file still open for writing is not copied at all. Where leases are
    // not to be had (a file of another user, a file system without them),
    // only the comparison after the copy below tells a change.
    const int leaseError = posix::TakeReadLease(in.get());
    if (leaseError == EAGAIN) return Busy();
    if (leaseError == 0) posix::ReleaseLease(in.get());

    // The copy is an unnamed file in the destination folder that gets its
    // name only once it is complete and on disk, so a crash or a kill in the
    // middle leaves nothing behind. Where unnamed files are not supported
    // (or /proc, through which they are named, is missing) it is written
    // under a temporary name instead, which RemoveLeftovers recognises.
    const std::filesystem::path folder = FolderOf(to);
    std::string temp;
    UniqueFd out;
    if (::access("/proc/self/fd", X_OK) == 0) {
        out = UniqueFd(sys::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!out && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Errno();
    }
    const bool unnamed = static_cast<bool>(out);
    if (!unnamed) {
        if (auto ec = MakeTemporary(folder, temp, [&](const char* name) {
                out = UniqueFd(sys::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
                return static_cast<bool>(out);
            })) {
            return ec;
        }
    }
    auto fail = [&](std::error_code ec) {
        out.Reset();
        if (!temp.empty()) sys::unlink(temp.c_str());
        return ec;
    };

    if (auto ec = CopyData(in.get(), out.get(), cancel)) return fail(ec);
    if (sys::fchmod(out.get(), st.st_mode & 07777) != 0) return fail(Errno());
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (sys::futimens(out.get(), times) != 0) return fail(Errno());
    if (sys::fsync(out.get()) != 0) return fail(Errno());

    // Is the copy the whole file? Not if a writer has it open now or wrote
    // to it meanwhile. From here until the source is gone the lease stays:
    // a writer that starts to open it waits for the release and shows
    // itself by breaking the lease.
    const int relockError = posix::TakeReadLease(in.get());
    if (relockError == EAGAIN) return fail(Busy());
    const bool leased = relockError == 0;
    struct stat now {};
    if (::fstat(in.get(), &now) != 0) return fail(Errno());
    if (Changed(st, now)) return fail(Busy());

    if (unnamed) {
        std::error_code ec = LinkUnnamed(out.get(), to.c_str()) ? std::error_code() : Errno();
        if (ec.value() == EEXIST && replace) {
            // Replacing needs a rename, so a name of its own, for an instant.
            ec = MakeTemporary(folder, temp,
                               [&](const char* name) { return LinkUnnamed(out.get(), name); });
            if (!ec && sys::rename(temp.c_str(), to.c_str()) != 0) ec = Errno();
        }
        if (ec) return fail(ec);
        out.Reset();  // the data is on disk already: fsync reported any write error
    } else {
        if (sys::close(out.Release()) != 0) return fail(Errno());
        if (replace) {
            if (sys::rename(temp.c_str(), to.c_str()) != 0) return fail(Errno());
        } else if (auto ec = RenameNoReplace(temp.c_str(), to.c_str())) {
            return fail(ec);
        }
    }

    // Undo what can be undone: a name we took. A replaced file is gone
    // already, so its complete replacement stays.
    auto keepSource = [&](std::error_code ec) {
        if (!replace) sys::unlink(to.c_str());
        return ec;
    };
    if (auto ec = SyncFolder(folder)) return keepSource(ec);
    // A writer that began to open the source meanwhile would write into a
    // removed file once the lease is released.
    if (leased && !posix::LeaseIntact(in.get())) return keepSource(Busy());
    if (sys::unlink(from.c_str()) != 0) return keepSource(Errno());
    if (leased) posix::ReleaseLease(in.get());
    return {};
}

class PosixFileMover final : public FileMover {
public:
    std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace, const WakeEvent& cancel) override {
        std::error_code ec;
        if (replace) {
            if (sys::rename(from.c_str(), to.c_str()) == 0) return {};
            ec = Errno();
        } else {
            ec = RenameNoReplace(from.c_str(), to.c_str());
        }
        if (ec.value() != EXDEV) return ec;
        return MoveAcross(from, to, replace, cancel);
    }

    bool Exists(const std::filesystem::path& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    std::vector<std::filesystem::path> RemoveLeftovers(
        const std::filesystem::path& folder) override {
        return RemoveMoveLeftovers(folder);
    }
};

}  // namespace

std::unique_ptr<FileMover> MakeFileMover() {
    return std::make_unique<PosixFileMover>();
}

}  // namespace tavren::platform
