#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>

#include "platform/fs.h"

namespace tavren::platform {

std::error_code StatFile(const std::filesystem::path& file, DirEntry& out) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {errno, std::generic_category()};
    out.isDirectory = S_ISDIR(st.st_mode);
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.mtimeSeconds = st.st_mtim.tv_sec;
    out.mtimeNanoseconds = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
    out.ctimeNs = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
    out.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return {};
}

std::string UnnotifiedFileSystem(const std::filesystem::path& folder) {
    // Magic numbers of statfs(2)'s f_type: network and cluster file
    // systems, and those served by a process in user space.
    struct Kind {
        std::uint32_t magic;
        const char* name;
    };
    static constexpr Kind kKinds[] = {
        {0x6969, "nfs"},        {0x517B, "smb"},      {0xFF534D42, "cifs"},   {0xFE534D42, "smb2"},
        {0x65735546, "fuse"},   {0x01021997, "9p"},   {0x00C36400, "ceph"},   {0x5346414F, "afs"},
        {0x6B414653, "afs"},    {0x73757245, "coda"}, {0x564C, "ncp"},        {0x01161970, "gfs2"},
        {0x7461636F, "ocfs2"},  {0x47504653, "gpfs"}, {0x0BD00BD0, "lustre"}, {0xAAD7AAEA, "panfs"},
        {0x19830326, "beegfs"},
    };
    struct statfs st {};
    if (::statfs(folder.c_str(), &st) != 0) return {};
    const auto type = static_cast<std::uint32_t>(st.f_type);
    for (const Kind& k : kKinds) {
        if (k.magic == type) return k.name;
    }
    return {};
}

}  // namespace tavren::platform
