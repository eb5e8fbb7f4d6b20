#include <iconv.h>

#include <cerrno>

#include "platform/text.h"

namespace tavren::platform {
namespace {

// An iconv descriptor per direction and thread: opening one costs far more
// than converting a file name, and descriptors must not be shared between
// threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Convert(std::string_view in, std::string& out) {
        out.clear();
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        out.resize(in.size() * 2 + 8);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t done = 0;
        for (;;) {
            char* dst = out.data() + done;
            std::size_t dstLeft = out.size() - done;
            const std::size_t rc = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            done = out.size() - dstLeft;
            if (rc != static_cast<std::size_t>(-1)) {
                // Flush any pending state; stateless for these encodings.
                out.resize(done);
                return true;
            }
            if (errno != E2BIG) return false;  // EILSEQ or EINVAL: no valid form
            out.resize(out.size() * 2);
        }
    }

private:
    iconv_t cd_;
};

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

bool Utf8ToCp932(std::string_view utf8, std::string& out, bool allowLookAlikes) {
    if (IsAscii(utf8)) {  // the common case, and identical in both encodings
        out.assign(utf8);
        return true;
    }
    thread_local Converter converter("CP932", "UTF-8");
    if (!converter.Convert(utf8, out)) return false;
    if (allowLookAlikes) return true;
    // glibc's CP932 table also takes some characters that CP932 lacks and
    // writes a look-alike instead (U+301C and U+FF5E both become 81 60,
    // U+00A5 becomes a backslash, U+2016 and U+2212 likewise). Such text has
    // no form of its own: storing it would turn a path into another path
    // and give two file names the same stored name.
    std::string back;
    return Cp932ToUtf8(out, back) && back == utf8;
}

bool Cp932ToUtf8(std::string_view cp932, std::string& out) {
    if (IsAscii(cp932)) {
        out.assign(cp932);
        return true;
    }
    thread_local Converter converter("UTF-8", "CP932");
    return converter.Convert(cp932, out);
}

}  // namespace tavren::platform
