#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tavren::platform {

// One entry of a folder listing. `name` holds the bytes the file system
// returned (UTF-8 on a Linux desktop, but any byte string is possible).
// What tells two files apart where names do not: device and inode on
// Linux, volume serial and file index on Windows. Zero when unknown.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;

    bool known() const { return volume != 0 || index != 0; }
    bool operator==(const FileId&) const = default;
};

struct DirEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0;      // last write, seconds since the epoch (UTC)
    std::int32_t mtimeNanoseconds = 0;  // and its fraction, where the system keeps it
    FileId id;                          // of what a link points to, like the rest
    // Last change of the file's data or attributes (the inode's change
    // time), nanoseconds since the epoch; 0 where the system does not tell.
    std::int64_t ctimeNs = 0;

    std::int64_t mtimeNs() const { return mtimeSeconds * 1'000'000'000 + mtimeNanoseconds; }
};

// Lists `folder` in the order the system returns the entries; "." and ".."
// are left out and sub-folders are not entered. A symbolic link is
// described by what it points to; a dangling one as a file of its own. An
// entry that vanishes while it is listed is left out; any other failure,
// also one to describe a single entry, fails the whole listing, so that a
// file is never taken for deleted because it could not be read.
std::error_code ListFolder(const std::filesystem::path& folder, std::vector<DirEntry>& out);

// Reads at most `maxBytes` bytes of `file` from `offset` on (nothing past
// its end). Anything but a regular file (a FIFO, a device, a folder) is
// refused without blocking, with std::errc::invalid_argument.
std::error_code ReadFile(const std::filesystem::path& file, std::string& out,
                         std::size_t maxBytes = SIZE_MAX, std::uint64_t offset = 0);

// ReadFile of a whole file, tried once more a moment later when it fails
// while the file is there: a file another program holds for an instant (a
// virus scanner, a share that hiccups) reads then. For the files a start
// goes on from, whose loss costs more than the wait.
std::error_code ReadFileOrRetry(const std::filesystem::path& file, std::string& out,
                                std::size_t maxBytes = SIZE_MAX);

// Replaces `file` with `data` so that at every moment the path names either
// the old file or the complete new one: the data goes into a temporary file
// beside it, is flushed to disk and then renamed over the old file. On any
// failure the old file stays and the temporary file is removed.
std::error_code WriteFileAtomically(const std::filesystem::path& file, std::string_view data);

// Removes what interrupted atomic writes left in `folder`: temporary files
// of WriteFileAtomically that were last written more than `minAgeSeconds`
// ago (younger ones may belong to a write under way), only those whose name
// starts with `namePrefix` (a folder shared with other programs keeps
// theirs).
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder, std::int64_t minAgeSeconds,
                               std::string_view namePrefix = {});

// Removes the file `file`; one that is not there is no error.
std::error_code RemoveFile(const std::filesystem::path& file);

// Creates `folder` and its missing parents; an existing folder is fine.
std::error_code CreateFolders(const std::filesystem::path& folder);

// Whether some process holds `file` open for writing.
enum class WriterState {
    None,     // nobody: the file is complete as far as writers go
    Writing,  // a writer has it open
    Unknown,  // cannot be told here (a file of another user, a file system
              // without leases, not a regular file)
};
// On Linux through a read lease (F_SETLEASE), which the owner of a file (or
// a process with CAP_LEASE) can take only while no one has it open for
// writing, released at once; on Windows by opening it with a share mode
// that denies writers. Never blocks.
WriterState ProbeWriters(const std::filesystem::path& file);

// Describes one file as ListFolder would (following links); `out.name` is
// left as it is.
std::error_code StatFile(const std::filesystem::path& file, DirEntry& out);

// The identity of what `path` names (following links); unknown on failure.
FileId FileIdentity(const std::filesystem::path& path);

// The kind of file system `folder` is on when changes made to it from
// elsewhere (another machine writing to a share, the store behind a FUSE
// file system) escape the change notifications: "nfs", "cifs", "fuse" and
// the like. Empty where notifications see every change, or where it cannot
// be told.
std::string UnnotifiedFileSystem(const std::filesystem::path& folder);

bool IsFolder(const std::filesystem::path& path);
bool Exists(const std::filesystem::path& path);

// What the watch engine reads of folders and files, as ListFolder, StatFile
// and FileIdentity do; handed in, so that tests can put folders held in
// memory in place of the disk.
class FolderReader {
public:
    virtual ~FolderReader() = default;
    virtual std::error_code List(const std::filesystem::path& folder,
                                 std::vector<DirEntry>& out) = 0;
    virtual std::error_code Stat(const std::filesystem::path& file, DirEntry& out) = 0;
    virtual FileId Identity(const std::filesystem::path& path) = 0;
};

// The functions above as a FolderReader; one serves every thread.
FolderReader& SystemFolderReader();

}  // namespace tavren::platform
