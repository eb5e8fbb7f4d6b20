#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/env.h"
#include "platform/process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"
#endif

namespace tavren::platform {
namespace {

// What the system runs by extension when PATHEXT is unset.
constexpr std::string_view kDefaultPathExt =
    ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC";

// The other kinds the shell starts rather than shows: screen savers,
// shortcuts, installers, control panel items, HTML applications, Java,
// PowerShell, registry files, internet shortcuts, ClickOnce, setup
// information, gadgets and shell commands.
constexpr std::array<std::string_view, 17> kLaunchable = {
    ".scr", ".lnk", ".pif",         ".msi",       ".msp", ".cpl",    ".hta", ".jar", ".ps1",
    ".reg", ".url", ".application", ".appref-ms", ".inf", ".gadget", ".scf", ".com"};

#ifndef _WIN32
// Desktop entries and self-running packages, which desktops start when asked
// to open them.
constexpr std::array<std::string_view, 3> kLaunchableHere = {".desktop", ".appimage", ".run"};
#endif

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Whether `ext` is one of the ';'-separated entries of `list`.
bool InList(std::string_view ext, std::string_view list) {
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(';'), list.size());
        if (const std::string_view entry = Trimmed(list.substr(0, end));
            !entry.empty() && SameLetters(entry, ext)) {
            return true;
        }
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return false;
}

// The extension of a file name, from its last '.', with the dots and
// spaces that Windows drops from the end of a name dropped first; empty
// when there is none or it is not plain ASCII (no kind listed here is).
std::string Extension(const std::filesystem::path& file) {
    const std::filesystem::path::string_type name = file.filename().native();
    std::size_t end = name.size();
    while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
    const std::size_t dot = name.rfind('.', end == 0 ? 0 : end - 1);
    if (end == 0 || dot == std::filesystem::path::string_type::npos) return {};
    std::string ext;
    for (std::size_t i = dot; i < end; ++i) {
        using Unit = std::make_unsigned_t<std::filesystem::path::value_type>;
        const auto unit = static_cast<Unit>(name[i]);
        if (unit == 0 || unit > 0x7f) return {};
        ext += static_cast<char>(unit);
    }
    return ext;
}

bool ExecutableByName(std::string_view ext) {
    if (ext.empty()) return false;
    if (InList(ext, kDefaultPathExt)) return true;
#ifdef _WIN32
    // Kinds the user added to PATHEXT too; the defaults stay whatever it says.
    if (const auto pathExt = GetEnv("PATHEXT"); pathExt && InList(ext, *pathExt)) return true;
#else
    // Wine registers itself as the opener of the Windows kinds.
    for (std::string_view kind : kLaunchableHere) {
        if (SameLetters(ext, kind)) return true;
    }
#endif
    for (std::string_view kind : kLaunchable) {
        if (SameLetters(ext, kind)) return true;
    }
    return false;
}

#ifndef _WIN32
// A program by its first bytes: an ELF or PE header, or a script marked
// executable. Only a regular file is read, without waiting for anything.
bool ExecutableByContent(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    posix::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char head[4] = {};
    ssize_t got = 0;
    do {
        got = ::pread(fd.get(), head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    const std::string_view bytes(head, got > 0 ? static_cast<std::size_t>(got) : 0);
    if (bytes.starts_with("\x7f"
                          "ELF") ||
        bytes.starts_with("MZ"))
        return true;
    return bytes.starts_with("#!") && (st.st_mode & 0111) != 0;
}
#endif

}  // namespace

bool IsExecutableKind(const std::filesystem::path& file) {
    if (ExecutableByName(Extension(file))) return true;
#ifdef _WIN32
    return false;
#else
    return ExecutableByContent(file);
#endif
}

}  // namespace tavren::platform
