#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/folder_lock.h"
#include "platform/posix/sys_calls.h"
#include "platform/posix/unique_fd.h"

namespace tavren::platform {
namespace {

using posix::UniqueFd;

// flock belongs to the open file description: it ends when the last
// descriptor of it closes, which the kernel does for a killed process too,
// and a second open of the file, even in this process, cannot take it.
class PosixFileLock final : public FileLock {
public:
    explicit PosixFileLock(UniqueFd fd) : fd_(std::move(fd)) {}

private:
    UniqueFd fd_;
};

// The pid as the holder wrote it: digits and a newline, else 0 (a holder
// that has just taken the lock may not have written it yet).
long ReadHolder(int fd) {
    char text[32];
    const ssize_t n = sys::pread(fd, text, sizeof text, 0);
    if (n <= 0) return 0;
    long pid = 0;
    const auto [end, ec] = std::from_chars(text, text + n, pid);
    return ec == std::errc() && end != text + n && *end == '\n' && pid > 0 ? pid : 0;
}

}  // namespace

std::unique_ptr<FileLock> LockFile(const std::filesystem::path& file, long& holderPid,
                                   std::error_code& ec) {
    holderPid = 0;
    ec.clear();
    UniqueFd fd(sys::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd) {
        ec.assign(errno, std::generic_category());
        return nullptr;
    }
    if (sys::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            holderPid = ReadHolder(fd.get());
            ec = std::make_error_code(std::errc::resource_unavailable_try_again);
        } else {
            ec.assign(errno, std::generic_category());
        }
        return nullptr;
    }
    // Written over the old text before cutting it to length, so a reader
    // never finds the file empty between the two. Should either fail, the
    // lock holds all the same; only its holder's pid is not told.
    const std::string text = std::to_string(::getpid()) + '\n';
    const bool told =
        sys::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
        sys::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0;
    (void)told;
    return std::make_unique<PosixFileLock>(std::move(fd));
}

}  // namespace tavren::platform
