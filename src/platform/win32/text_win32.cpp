#include "platform/text.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

constexpr UINT kCp932 = 932;

// Characters that CP932 can show only through a look-alike, with the
// character that stands in for them. Windows has no mapping for these, so
// they are replaced before converting; the list is the one-way part of
// glibc's CP932 table, so both builds store the same bytes.
struct LookAlike {
    wchar_t from;
    wchar_t to;
};
constexpr LookAlike kLookAlikes[] = {
    {0x00A2, 0xFFE0},  // cent sign -> full-width (81 91)
    {0x00A3, 0xFFE1},  // pound sign -> full-width (81 92)
    {0x00A5, 0x005C},  // yen sign -> backslash (5C)
    {0x00AC, 0xFFE2},  // not sign -> full-width (81 CA)
    {0x2014, 0x2015},  // em dash -> horizontal bar (81 5C)
    {0x2016, 0x2225},  // double vertical line -> parallel to (81 61)
    {0x203E, 0x007E},  // overline -> tilde (7E)
    {0x2212, 0xFF0D},  // minus sign -> full-width hyphen-minus (81 7C)
    {0x301C, 0xFF5E},  // wave dash -> full-width tilde (81 60)
};

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Strict conversion to UTF-16: invalid and unassigned codes fail.
bool ToWide(UINT codePage, std::string_view text, std::wstring& out) {
    const int size = static_cast<int>(text.size());
    const int n =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), L'\0');
    return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(),
                                 n) == n;
}

bool Cp932ToWide(std::string_view cp932, std::wstring& out) {
    // Windows decodes the lone byte 80 as U+0080; glibc and the other CP932
    // readers refuse it, and so do we.
    if (cp932.find('\x80') != std::string_view::npos) {
        // 80 is a valid trail byte; refuse it only where it stands alone.
        for (std::size_t i = 0; i < cp932.size(); ++i) {
            const auto b = static_cast<unsigned char>(cp932[i]);
            if (b == 0x80) return false;
            if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ++i;
        }
    }
    return ToWide(kCp932, cp932, out);
}

}  // namespace

bool Utf8ToCp932(std::string_view utf8, std::string& out, bool allowLookAlikes) {
    if (IsAscii(utf8)) {  // the common case, and identical in both encodings
        out.assign(utf8);
        return true;
    }
    std::wstring wide;
    if (!ToWide(CP_UTF8, utf8, wide)) return false;
    if (allowLookAlikes) {
        for (wchar_t& c : wide) {
            for (const LookAlike& l : kLookAlikes) {
                if (c == l.from) c = l.to;
            }
        }
    }
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                        nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), n,
                              nullptr, &usedDefault) != n ||
        usedDefault) {
        return false;
    }
    // Only text that reads back as itself has a CP932 form of its own; this
    // also refuses the few characters that Windows writes one way only.
    std::wstring back;
    return Cp932ToWide(out, back) && back == wide;
}

bool Cp932ToUtf8(std::string_view cp932, std::string& out) {
    if (IsAscii(cp932)) {
        out.assign(cp932);
        return true;
    }
    std::wstring wide;
    if (!Cp932ToWide(cp932, wide)) return false;
    out = win32::Narrow(wide);
    return true;
}

}  // namespace tavren::platform
