// How much a snapshot round costs next to simply listing the folder.
//
// A rescan stores the folder's state, reads it back and looks every file up
// by name. The bare minimum any rescan pays is one listing: readdir plus a
// stat of each entry. This benchmark times, in one run and interleaved:
//
//   listing  opendir/readdir + fstatat of every entry, written here directly
//            with POSIX calls as the cheapest possible reference;
//   round    store::WriteSnapshot (which lists the folder itself),
//            store::ReadSnapshot, and SnapshotList::Find on the SnapshotKey
//            of every file name;
//
// for folders of 1,000, 10,000 and 100,000 files, and reports the ratio of
// the medians. The goal: at 100,000 files a round costs at most 1.5 times the
// bare listing. A breakdown of the round shows where its time goes, among
// others how much of it the fsync of the atomic file replacement takes.
//
// Usage: bench_snapshot [largest-folder-size [repetitions]]
//   e.g. `bench_snapshot 10000` for a quick run without the 100,000 folder.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "store/data_folder.h"
#include "store/snapshot.h"
#include "store/watch_entry.h"

namespace {

using tavren::bench::Median;
using tavren::bench::ScratchFolder;
using tavren::bench::TimeMs;
namespace store = tavren::store;

constexpr double kTargetRatio = 1.5;
constexpr std::size_t kTargetFiles = 100000;

volatile std::uint64_t g_sink = 0;  // keeps the compiler from dropping work

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_snapshot: %s\n", what.c_str());
    std::exit(1);
}

// Names as they turn up in a real document folder: mostly ASCII, one in four
// Japanese (which takes the CP932 conversion path of SnapshotKey).
std::string MakeName(std::size_t i) {
    char buffer[96];
    const unsigned n = static_cast<unsigned>(i);
    switch (i % 8) {
        case 0: std::snprintf(buffer, sizeof buffer, "報告書_%05u.txt", n); break;
        case 1: std::snprintf(buffer, sizeof buffer, "IMG_%05u.jpg", n); break;
        case 2: std::snprintf(buffer, sizeof buffer, "report-2026-12-%05u.pdf", n); break;
        case 3: std::snprintf(buffer, sizeof buffer, "data_%05u.csv", n); break;
        case 4: std::snprintf(buffer, sizeof buffer, "議事録 %05u 営業部.docx", n); break;
        case 5: std::snprintf(buffer, sizeof buffer, "Invoice %05u (final).xlsx", n); break;
        case 6: std::snprintf(buffer, sizeof buffer, "scan%05u.tif", n); break;
        default: std::snprintf(buffer, sizeof buffer, "notes_%05u.md", n); break;
    }
    return buffer;
}

// Creates `count` files of varied sizes. The files are sparse, so the sizes
// cost no disk space and creating them stays quick.
std::vector<std::string> CreateFiles(const std::filesystem::path& folder, std::size_t count) {
    if (::mkdir(folder.c_str(), 0755) != 0) Die("cannot create " + folder.string());
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(MakeName(i));
        const std::string path = (folder / names.back()).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) Die("cannot create " + path + ": " + std::strerror(errno));
        if (::ftruncate(fd, static_cast<off_t>((i * 7919) % 300000)) != 0) Die("ftruncate failed");
        ::close(fd);
    }
    return names;
}

// The reference: the least work that gives name, size and time of every entry.
std::size_t BareListing(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) Die("cannot list " + folder.string());
    const int dfd = ::dirfd(dir);
    std::size_t count = 0;
    std::uint64_t sum = 0;
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        struct stat st {};
        if (::fstatat(dfd, name, &st, 0) != 0) continue;
        sum += static_cast<std::uint64_t>(st.st_size) + static_cast<std::uint64_t>(st.st_mtim.tv_sec);
        ++count;
    }
    ::closedir(dir);
    g_sink = g_sink + sum;
    return count;
}

// Looks every name up in `list` the way a rescan does: by its stored key.
std::size_t FindAll(store::SnapshotList& list, const std::vector<std::string>& names) {
    std::size_t found = 0;
    for (const std::string& name : names) {
        if (list.Find(store::SnapshotKey(name)) != nullptr) ++found;
    }
    return found;
}

// One round: store the folder's state, read it back, find every file in it.
std::size_t Round(const store::DataFolder& data, const store::WatchEntry& entry,
                  const std::vector<std::string>& names) {
    if (const store::Status s = store::WriteSnapshot(data, 0, entry); !s.ok()) Die(s.message());
    store::SnapshotList list = store::ReadSnapshot(data, 0);
    return FindAll(list, names);
}

// The same replacement as WriteSnapshotFile minus both fsyncs: the difference
// between the two is what durability costs.
void WriteWithoutSync(const std::filesystem::path& file, const std::string& bytes) {
    const std::string temp = file.string() + ".nosync";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + temp);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) Die("write failed");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (::rename(temp.c_str(), file.c_str()) != 0) Die("rename failed");
}

struct Figures {
    std::size_t files = 0;
    double listing = 0;    // bare listing
    double round = 0;      // the whole round
    double list = 0;       // ListTargetFiles: listing + DescribeFile + SnapshotKey
    double write = 0;      // WriteSnapshotFile: encode, write, fsync, rename, fsync folder
    double writeNoSync = 0;  // EncodeSnapshot + write + rename, no fsync
    double read = 0;       // ReadSnapshot: read + decode + hash index
    double key = 0;        // SnapshotKey of every name
    double find = 0;       // Find of every key
};

Figures Measure(const ScratchFolder& scratch, const store::DataFolder& data, std::size_t files,
                int repetitions) {
    const std::filesystem::path folder = scratch.path() / ("watch-" + std::to_string(files));
    const std::vector<std::string> created = CreateFiles(folder, files);

    store::WatchEntry entry;
    entry.fileMode = 0;
    entry.folder = folder.string();
    const std::filesystem::path snapshotFile = data.snapshotFile(0);

    // A rescan meets the names in listing order, which is also the order of
    // the snapshot's records; look them up in that order, not in the order
    // they were created in.
    std::vector<store::FoundFile> found;
    store::ListTargetFiles(entry, found);
    if (found.size() != created.size()) Die("ListTargetFiles missed files");
    std::vector<std::string> names;
    std::vector<store::SnapshotItem> items;
    for (const store::FoundFile& f : found) {
        names.push_back(f.fileName);
        items.push_back(f.item);
    }

    // Warm the caches (dentries, inodes, iconv, allocator) and check that the
    // round really sees every file.
    for (int i = 0; i < 2; ++i) {
        if (BareListing(folder) != files) Die("bare listing missed files");
        if (Round(data, entry, names) != files) Die("round did not find every file");
    }

    std::vector<double> listing, round, list, write, writeNoSync, read, key, find;
    for (int rep = 0; rep < repetitions; ++rep) {
        // Alternate the order so that neither side always runs second.
        auto timeListing = [&] { listing.push_back(TimeMs([&] { BareListing(folder); })); };
        auto timeRound = [&] { round.push_back(TimeMs([&] { Round(data, entry, names); })); };
        if (rep % 2 == 0) {
            timeListing();
            timeRound();
        } else {
            timeRound();
            timeListing();
        }

        // The parts of the round, each on its own.
        std::vector<store::FoundFile> listed;
        list.push_back(TimeMs([&] { store::ListTargetFiles(entry, listed); }));
        write.push_back(TimeMs([&] {
            if (!store::WriteSnapshotFile(snapshotFile, items).ok()) Die("WriteSnapshotFile failed");
        }));
        writeNoSync.push_back(
            TimeMs([&] { WriteWithoutSync(snapshotFile, store::EncodeSnapshot(items)); }));
        store::SnapshotList snapshot;
        read.push_back(TimeMs([&] { snapshot = store::ReadSnapshot(data, 0); }));
        std::vector<std::string> keys;
        keys.reserve(names.size());
        key.push_back(TimeMs([&] {
            for (const std::string& name : names) keys.push_back(store::SnapshotKey(name));
        }));
        std::size_t hits = 0;
        find.push_back(TimeMs([&] {
            for (const std::string& k : keys) hits += snapshot.Find(k) != nullptr ? 1 : 0;
        }));
        if (hits != files) Die("look-up missed files");
    }

    Figures f;
    f.files = files;
    f.listing = Median(listing);
    f.round = Median(round);
    f.list = Median(list);
    f.write = Median(write);
    f.writeNoSync = Median(writeNoSync);
    f.read = Median(read);
    f.key = Median(key);
    f.find = Median(find);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);  // free the space before the next size
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t largest = kTargetFiles;
    int repetitions = 7;
    if (argc > 1) largest = std::strtoul(argv[1], nullptr, 10);
    if (argc > 2) repetitions = std::atoi(argv[2]);
    if (largest == 0 || repetitions < 1) {
        std::fprintf(stderr, "usage: %s [largest-folder-size [repetitions]]\n", argv[0]);
        return 2;
    }

    ScratchFolder scratch("tavren-bench-snapshot");
    const store::DataFolder data(scratch.path() / "data");
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());

    std::vector<Figures> all;
    for (std::size_t files : {std::size_t{1000}, std::size_t{10000}, std::size_t{100000}}) {
        if (files > largest) break;
        all.push_back(Measure(scratch, data, files, repetitions));
    }
    if (all.empty()) Die("largest folder size must be at least 1000");

    std::printf("Snapshot round (WriteSnapshot + ReadSnapshot + Find of every name)\n"
                "against a bare listing (readdir + fstatat), medians of %d runs.\n\n",
                repetitions);
    std::printf("%8s %12s %10s %14s %12s\n", "files", "listing ms", "round ms", "round/listing",
                "fsync share");
    for (const Figures& f : all) {
        const double fsync = f.write > f.writeNoSync ? f.write - f.writeNoSync : 0.0;
        std::printf("%8zu %12.2f %10.2f %13.2fx %11.0f%%\n", f.files, f.listing, f.round,
                    f.round / f.listing, 100.0 * fsync / f.round);
    }

    std::printf("\nParts of the round, each timed on its own (ms; share of the round):\n");
    std::printf("%8s %17s %17s %17s %17s %17s %17s\n", "files", "list+describe",
                "write w/o fsync", "fsync", "read+decode", "SnapshotKey", "Find");
    for (const Figures& f : all) {
        const double fsync = f.write > f.writeNoSync ? f.write - f.writeNoSync : 0.0;
        auto cell = [&](double ms) {
            char text[32];
            std::snprintf(text, sizeof text, "%7.2f (%3.0f%%)", ms, 100.0 * ms / f.round);
            return std::string(text);
        };
        std::printf("%8zu %17s %17s %17s %17s %17s %17s\n", f.files, cell(f.list).c_str(),
                    cell(f.writeNoSync).c_str(), cell(fsync).c_str(), cell(f.read).c_str(),
                    cell(f.key).c_str(), cell(f.find).c_str());
    }

    std::printf("\n");
    if (all.back().files == kTargetFiles) {
        const double ratio = all.back().round / all.back().listing;
        std::printf("target: at %zu files the round costs at most %.1fx the bare listing: %s "
                    "(%.2fx)\n",
                    kTargetFiles, kTargetRatio, ratio <= kTargetRatio ? "MET" : "MISSED", ratio);
    } else {
        std::printf("target: not checked (needs the %zu-file folder; largest run was %zu)\n",
                    kTargetFiles, all.back().files);
    }
    return 0;
}
