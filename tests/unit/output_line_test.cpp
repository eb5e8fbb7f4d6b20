#include "platform/output_line.h"

#include <gtest/gtest.h>

#include <string>

namespace tavren::platform {
namespace {

TEST(OneLine, EscapesWhatCouldBreakOrGarbleTheLine) {
    struct Case {
        std::string text;
        std::string printed;
    };
    const Case cases[] = {
        {"report.txt", "report.txt"},
        {"日本語の資料.txt 😀", "日本語の資料.txt 😀"},
        {"C:\\in\\a.txt", "C:\\in\\a.txt"},
        {"a\nTavren3: forged", "a\\x0aTavren3: forged"},
        {"\r\t\x1b[2J", "\\x0d\\x09\\x1b[2J"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x7f", "\\x7f"},
        {"\xc2\x85|\xc2\x9f|\xc2\xa0", "\\xc2\\x85|\\xc2\\x9f|\xc2\xa0"},  // NEL, APC; NBSP stays
        {"\xff\xfe", "\\xff\\xfe"},
        {"\xe3\x81|\xed\xa0\x80", "\\xe3\\x81|\\xed\\xa0\\x80"},  // cut short; a surrogate
        {"\xc0\xaf", "\\xc0\\xaf"},                               // an overlong '/'
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OneLine(c.text), c.printed) << testing::PrintToString(c.text);
    }
}

}  // namespace
}  // namespace tavren::platform
