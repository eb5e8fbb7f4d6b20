#include "reliability/harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/wake_event.h"

namespace tavren::reliability {

namespace fs = std::filesystem;

namespace {

bool IsNumber(const char* s) {
    if (*s == '\0') return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
    }
    return true;
}

// The parent pid from /proc/<pid>/stat; the command name before it may hold
// spaces and parentheses, so the fields are counted from the last ')'.
pid_t ParentOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(in, line)) return -1;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    pid_t parent = -1;
    fields >> state >> parent;
    return parent;
}

// The count recorded for `key`, zero when there is none.
int CountOf(const std::map<std::string, int>& counts, const std::string& key) {
    const auto it = counts.find(key);
    return it == counts.end() ? 0 : it->second;
}

int Total(const std::map<std::string, int>& counts) {
    int n = 0;
    for (const auto& [key, count] : counts) n += count;
    return n;
}

}  // namespace

Resources CountResources() {
    Resources r;
    r.threads = static_cast<int>(ThreadIds().size());
    const pid_t self = ::getpid();
    if (DIR* d = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            if (!IsNumber(e->d_name) || std::atoi(e->d_name) == own) continue;
            ++r.descriptors;
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string_view(target) == "anon_inode:inotify") {
                ++r.inotifyInstances;
            }
        }
        ::closedir(d);
    }
    if (DIR* d = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(d)) {
            if (IsNumber(e->d_name) && ParentOf(e->d_name) == self) ++r.children;
        }
        ::closedir(d);
    }
    return r;
}

std::string Describe(const Resources& r) {
    return std::to_string(r.threads) + " threads, " + std::to_string(r.descriptors) +
           " descriptors, " + std::to_string(r.children) + " children, " +
           std::to_string(r.inotifyInstances) + " inotify instances";
}

int ReadProcInt(const char* file) {
    std::ifstream in(file);
    int value = 0;
    in >> value;
    return value;
}

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d)) {
            if (IsNumber(e->d_name)) ids.insert(static_cast<pid_t>(std::atoi(e->d_name)));
        }
        ::closedir(d);
    }
    return ids;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    return true;
}

int SoakSeconds() {
    const char* s = std::getenv("TAVREN_SOAK_SECONDS");
    return s ? std::atoi(s) : 0;
}

unsigned SoakSeed() {
    if (const char* s = std::getenv("TAVREN_SOAK_SEED"))
        return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    return static_cast<unsigned>(std::time(nullptr));
}

std::int64_t SoakClock::NowSeconds() {
    if (skipDebounce) offset_ += 10;
    return platform::NowSeconds() + offset_.load();
}

platform::LocalTime SoakClock::ToLocal(std::int64_t seconds) {
    return platform::ToLocalTime(seconds);
}

bool CountingLauncher::RunAndWait(std::string_view commandLine, const platform::WakeEvent& stop,
                                  const platform::LaunchContext& context) {
    {
        std::lock_guard lock(mutex_);
        ++runs_[std::string(commandLine)];
    }
    if (real) return real->RunAndWait(commandLine, stop, context);
    if (runTime.count() > 0) stop.WaitFor(runTime);
    return true;
}

bool CountingLauncher::StartProgram(std::string_view commandLine, const platform::LaunchContext&) {
    std::lock_guard lock(mutex_);
    ++opens_[std::string(commandLine)];
    return true;
}

platform::ProcessLauncher::OpenResult CountingLauncher::OpenDocument(const fs::path& file) {
    std::lock_guard lock(mutex_);
    ++opens_[file.string()];
    return OpenResult::Opened;
}

int CountingLauncher::Opens(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return CountOf(opens_, path);
}

int CountingLauncher::Runs(const std::string& commandLine) const {
    std::lock_guard lock(mutex_);
    return CountOf(runs_, commandLine);
}

int CountingLauncher::TotalOpens() const {
    std::lock_guard lock(mutex_);
    return Total(opens_);
}

int CountingLauncher::TotalRuns() const {
    std::lock_guard lock(mutex_);
    return Total(runs_);
}

std::map<std::string, int> CountingLauncher::AllOpens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

std::error_code CountingMover::Move(const fs::path& from, const fs::path& to, bool replace,
                                    const platform::WakeEvent& cancel) {
    const std::error_code ec = real_->Move(from, to, replace, cancel);
    std::lock_guard lock(mutex_);
    if (ec) {
        ++failures_;
        lastError_ = ec;
    } else {
        ++moves_[from.string()];
    }
    return ec;
}

int CountingMover::MovesOf(const std::string& source) const {
    std::lock_guard lock(mutex_);
    return CountOf(moves_, source);
}

int CountingMover::TotalMoves() const {
    std::lock_guard lock(mutex_);
    return Total(moves_);
}

int CountingMover::Failures() const {
    std::lock_guard lock(mutex_);
    return failures_;
}

std::error_code CountingMover::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

std::map<std::string, int> CountingMover::AllMoves() const {
    std::lock_guard lock(mutex_);
    return moves_;
}

Rig::Rig(const fs::path& dataRoot) : data(dataRoot.empty() ? dir / "data" : dataRoot / "data") {
    data.Prepare();
}

engine::Services Rig::services() {
    return {clock, *watcher, launcher, mover, sound, sink};
}

fs::path Rig::Folder(const std::string& name) {
    const fs::path folder = dir / name;
    fs::create_directories(folder);
    return folder;
}

void Rig::SaveSettings(const std::vector<store::Slot>& slots) {
    std::vector<store::SlotImage> images;
    for (const store::Slot& slot : slots) {
        images.push_back(store::BlankSlotImage());
        if (!store::EncodeSlot(slot, images.back())) throw std::runtime_error("cannot encode slot");
    }
    if (!store::WriteAllSlots(data.settingsFile(), images)) throw std::runtime_error("cannot save");
}

OtherFsDir::OtherFsDir(const fs::path& near) {
    std::string templ = "/dev/shm/tavren-rel-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) return;
    struct stat a {};
    struct stat b {};
    if (::stat(templ.c_str(), &a) != 0 || ::stat(near.c_str(), &b) != 0 || a.st_dev == b.st_dev) {
        ::rmdir(templ.c_str());
        return;
    }
    path_ = templ;
}

OtherFsDir::~OtherFsDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        if (!e.is_directory()) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tavren::reliability
