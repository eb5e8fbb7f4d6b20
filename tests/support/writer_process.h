#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace tavren::test {

// A child process that holds `file` open for writing until Stop(), then
// closes it; with `appending` it adds a line every few milliseconds
// meanwhile. For the tests of what a file's writer changes (POSIX only).
class WriterProcess {
public:
    WriterProcess(const std::filesystem::path& file, bool appending) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(stop_, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(stop_[1]);
            const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
            const char ok = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
            pollfd stop{stop_[0], POLLIN, 0};
            while (::poll(&stop, 1, appending ? 5 : -1) == 0) n = ::write(fd, "more\n", 5);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(stop_[0]);
        char ok = 'n';
        started_ = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
        ::close(ready[0]);
    }
    ~WriterProcess() { Stop(); }
    WriterProcess(const WriterProcess&) = delete;
    WriterProcess& operator=(const WriterProcess&) = delete;

    bool started() const { return started_; }

    // Returns once the file is closed.
    void Stop() {
        if (pid_ <= 0) return;
        ::close(stop_[1]);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int stop_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool started_ = false;
};

}  // namespace tavren::test
