// The CP932 conversions and the bounded copy into fixed-width fields. The
// field is a buffer of exactly its width on the heap, so AddressSanitizer
// catches a write past it. Input: one byte giving the field width
// (1 + byte % 160), one fill byte for the field, then the text.
#include <algorithm>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "platform/text.h"
#include "store/cp932.h"

using namespace tavren;
using namespace tavren::store;

namespace {

// Character boundaries of CP932 text as the bounded copy sees them.
std::size_t NextBoundary(std::string_view cp932, std::size_t i) {
    return IsCp932LeadByte(static_cast<unsigned char>(cp932[i])) && i + 1 < cp932.size() ? i + 2
                                                                                        : i + 1;
}

void CheckStoreField(std::size_t width, char fill, std::string_view cp932) {
    const auto field = std::make_unique<char[]>(width);
    std::fill_n(field.get(), width, fill);
    const bool whole = StoreField(field.get(), width, cp932);

    const std::size_t n = Cp932FitLength(cp932, width - 1);
    FUZZ_REQUIRE(n <= width - 1 && n <= cp932.size());
    FUZZ_REQUIRE(whole == (n == cp932.size()));
    // n is a character boundary, and the next character would not fit.
    std::size_t i = 0;
    while (i < n) i = NextBoundary(cp932, i);
    FUZZ_REQUIRE(i == n);
    if (n < cp932.size()) FUZZ_REQUIRE(NextBoundary(cp932, n) > width - 1);

    FUZZ_REQUIRE(std::string_view(field.get(), n) == cp932.substr(0, n));
    FUZZ_REQUIRE(field[n] == '\0');
    for (std::size_t k = n + 1; k < width; ++k) FUZZ_REQUIRE(field[k] == fill);
    if (cp932.find('\0') == std::string_view::npos) {
        FUZZ_REQUIRE(FieldText(field.get(), width) == cp932.substr(0, n));
    }
}

// Stored bytes, valid or not, always read as UTF-8 text.
void CheckFromCp932(std::string_view cp932) {
    const std::string utf8 = FromCp932(cp932);
    FUZZ_REQUIRE(fuzz::IsValidUtf8(utf8));
    std::string strict;
    if (platform::Cp932ToUtf8(cp932, strict)) FUZZ_REQUIRE(utf8 == strict);
    // Reading, writing and reading again changes nothing more.
    if (const auto again = ToCp932(utf8, /*allowLookAlikes=*/true)) {
        FUZZ_REQUIRE(FromCp932(*again) == utf8);
    }
}

// Text that converts strictly comes back unchanged.
void CheckToCp932(std::string_view utf8) {
    const auto strict = ToCp932(utf8);
    const auto loose = ToCp932(utf8, /*allowLookAlikes=*/true);
    const auto length = Cp932Length(utf8);
    FUZZ_REQUIRE(strict.has_value() == length.has_value());
    if (strict) {
        FUZZ_REQUIRE(fuzz::IsValidUtf8(utf8));
        FUZZ_REQUIRE(*length == strict->size());
        FUZZ_REQUIRE(loose && *loose == *strict);
        FUZZ_REQUIRE(FromCp932(*strict) == utf8);
    }
    if (loose) {
        FUZZ_REQUIRE(fuzz::IsValidUtf8(utf8));
        FUZZ_REQUIRE(fuzz::IsValidUtf8(FromCp932(*loose)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t width = 1 + data[0] % 160;
    const auto fill = static_cast<char>(data[1]);
    const std::string_view text = fuzz::AsText(data + 2, size - 2);

    CheckStoreField(width, fill, text);
    CheckFromCp932(text);
    CheckToCp932(text);
    return 0;
}
