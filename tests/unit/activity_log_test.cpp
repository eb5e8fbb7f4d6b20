#include "store/activity_log.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/activity_log_writer.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren {
namespace {

// Whatever a name holds, its line is one line of six fields, and reading
// it back gives the name as the headless output escapes it.
TEST(ActivityLog, LinesKeepTheirSixFieldsWhateverTheNamesHold) {
    struct Case {
        std::string file;
        std::string read;
    };
    const Case cases[] = {
        {"report.txt", "report.txt"},       {"日本語 の.csv", "日本語 の.csv"},
        {"a\tb.txt", "a\\x09b.txt"},        {"x\ny\r.txt", "x\\x0ay\\x0d.txt"},
        {"\xff\xfe.txt", "\\xff\\xfe.txt"}, {"", ""},
    };
    for (const Case& c : cases) {
        const store::LogRecord in{
            "2026-12-08T14:03:05.123+09:00", 3, "t\ti", "moved", c.file, "/d/" + c.file};
        const std::string line = store::FormatLogLine(in);
        const auto out = store::ParseLogLine(line);
        ASSERT_TRUE(out) << line;
        EXPECT_EQ(out->entry, 3);
        EXPECT_EQ(out->title, "t\\x09i");
        EXPECT_EQ(out->file, c.read);
        EXPECT_EQ(out->result, "/d/" + c.read);
        EXPECT_EQ(store::FormatLogLine(*out), line) << "read back, it is written the same";
    }
}

// A log that cannot be written is told once, not once per line.
TEST(ActivityLog, AnUnwritableLogIsToldOnce) {
    test::TempDir dir;
    test::EventLog events;
    test::FakeClock clock;
    test::RecordingSink sink(events);
    engine::ActivityLog log(dir / "missing" / "tavren3.log", clock, sink);
    for (int i = 0; i < 3; ++i) {
        log.Write(1, "t", store::log_event::kNew, "f" + std::to_string(i));
        log.Flush();
    }
    EXPECT_EQ(events.Matching("problem:").size(), 1u);
}

}  // namespace
}  // namespace tavren
