#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "engine/rescan.h"
#include "support/fakes.h"

namespace tavren::engine {
namespace {

using store::FoundFile;
using store::SnapshotItem;
using store::SnapshotList;
using store::WatchEntry;
using test::kSep;

SnapshotItem Item(std::string name, std::uint32_t size = 10, std::int32_t time = 150409) {
    return {size, 20261206, time, std::move(name)};
}

FoundFile Found(std::string name, std::uint32_t size = 10, std::int32_t time = 150409) {
    return {name, Item(name, size, time)};
}

SnapshotList ListOf(std::initializer_list<SnapshotItem> items) {
    SnapshotList list;
    for (const auto& i : items) list.Append(i);
    return list;
}

std::vector<std::string> Names(const RescanPlan& plan) {
    std::vector<std::string> names;
    for (const auto* f : plan.targets) names.push_back(f->fileName);
    return names;
}

std::vector<std::string> DeletedNames(const RescanPlan& plan) {
    std::vector<std::string> names;
    for (const auto* n : plan.deleted) names.push_back(n->item.name);
    return names;
}

WatchEntry NameEntry() {
    WatchEntry e;
    e.timing = 1;
    e.folder = "/w";
    return e;
}

TEST(RescanPlan, NewChangedAndUnchangedFiles) {
    auto list =
        ListOf({Item("same.txt"), Item("bigger.txt"), Item("touched.txt"), Item("redated.txt")});
    std::vector<FoundFile> found = {Found("same.txt"),
                                    Found("bigger.txt", 11),
                                    Found("touched.txt", 10, 150410),
                                    Found("new.txt"),
                                    {"redated.txt", {10, 20261207, 150409, "redated.txt"}}};
    const RescanPlan plan = PlanRescan(list, found, NameEntry());
    EXPECT_EQ(Names(plan),
              (std::vector<std::string>{"bigger.txt", "touched.txt", "new.txt", "redated.txt"}));
    for (const auto& node : list) EXPECT_EQ(node.seen, 1) << node.item.name;
    EXPECT_TRUE(plan.deleted.empty());
    EXPECT_FALSE(plan.unchanged);
}

TEST(RescanPlan, NamesMatchExactlyAndOnlyTheFirstEqualRecord) {
    // "report.txt.bak" stands first and must not be taken for report.txt;
    // names differ in case count as different files.
    auto list =
        ListOf({Item("report.txt.bak"), Item("report.txt"), Item("dup", 1), Item("dup", 2)});
    std::vector<FoundFile> found = {Found("report.txt"), Found("REPORT.TXT"), Found("dup", 1),
                                    Found("report.txt.bak")};
    const RescanPlan plan = PlanRescan(list, found, NameEntry());
    EXPECT_EQ(Names(plan), std::vector<std::string>{"REPORT.TXT"});
    EXPECT_EQ(list[3].seen, 0);  // the second "dup" is never matched
}

TEST(RescanPlan, DeletionsOnlyForNameEntriesWhenFewerFilesWereFound) {
    const auto five = {Item("a"), Item("b"), Item("c"), Item("d"), Item("e")};
    {
        auto list = ListOf(five);
        std::vector<FoundFile> found = {Found("a"), Found("c"), Found("e")};
        EXPECT_EQ(DeletedNames(PlanRescan(list, found, NameEntry())),
                  (std::vector<std::string>{"b", "d"}));
    }
    // Entries that react to updates never report deletions, nor does an odd
    // stored value, though it is woken by name changes.
    for (const std::int16_t timing : std::initializer_list<std::int16_t>{0, 2}) {
        auto list = ListOf(five);
        WatchEntry entry = NameEntry();
        entry.timing = timing;
        std::vector<FoundFile> found = {Found("a")};
        EXPECT_TRUE(PlanRescan(list, found, entry).deleted.empty()) << timing;
    }
    {  // a rename: as many files as before, so the old name is not reported
        auto list = ListOf(five);
        std::vector<FoundFile> found = {Found("a"), Found("b"), Found("c"), Found("d"),
                                        Found("renamed")};
        const RescanPlan plan = PlanRescan(list, found, NameEntry());
        EXPECT_TRUE(plan.deleted.empty());
        EXPECT_EQ(Names(plan), std::vector<std::string>{"renamed"});
    }
    {  // the last file gone: the folder is empty or missing
        auto list = ListOf({Item("only")});
        EXPECT_EQ(DeletedNames(PlanRescan(list, {}, NameEntry())),
                  std::vector<std::string>{"only"});
    }
}

TEST(RescanPlan, UnchangedOnlyWhenEveryRecordMatches) {
    for (const auto& order : {std::vector<std::string>{"a", "b"}, {"b", "a"}}) {
        // The records' order is not the listing's business.
        auto list = ListOf({Item("a"), Item("b")});
        std::vector<FoundFile> found = {Found(order[0]), Found(order[1])};
        EXPECT_TRUE(PlanRescan(list, found, NameEntry()).unchanged);
    }
    {  // a file gone from an entry that reacts to updates
        auto list = ListOf({Item("a"), Item("b")});
        WatchEntry updates = NameEntry();
        updates.timing = 0;
        std::vector<FoundFile> found = {Found("a")};
        EXPECT_FALSE(PlanRescan(list, found, updates).unchanged);
    }
    {
        auto list = ListOf({});
        EXPECT_TRUE(PlanRescan(list, {}, NameEntry()).unchanged);
    }
}

TEST(RescanTexts, ChangeNoticeNamesTheProgramWhenOneRuns) {
    WatchEntry e = NameEntry();
    EXPECT_EQ(ChangeNoticeText(e, "a.txt"), "a.txt");
    e.program = "/usr/bin/report";
    EXPECT_EQ(ChangeNoticeText(e, "a.txt"), "/usr/bin/report");
    e.openFile = 1;  // the file is opened; the program does not run
    EXPECT_EQ(ChangeNoticeText(e, "a.txt"), "a.txt");
}

TEST(RescanTexts, DeletionNoticeByOpenFileAndProgram) {
    WatchEntry e = NameEntry();
    e.folder = "/watch";
    e.messageMode = 0;

    e.openFile = 1;
    Notice n = DeletionNotice(e, "a.txt");
    EXPECT_EQ(n.text, "/watch" + kSep + "a.txt が削除されました。");
    EXPECT_EQ(n.messageMode, 2);  // shown even though the entry shows no messages
    e.program = "/usr/bin/p";
    EXPECT_EQ(DeletionNotice(e, "a.txt").text, "/watch" + kSep + "a.txt が削除されました。");

    e.openFile = 0;
    e.messageMode = 1;
    n = DeletionNotice(e, "a.txt");
    EXPECT_EQ(n.text, "/usr/bin/p");
    EXPECT_EQ(n.messageMode, 1);
    e.program.clear();
    EXPECT_EQ(DeletionNotice(e, "a.txt").text, "/watch" + kSep + "a.txt");

    // Too short a path text becomes the generic notice.
    e.openFile = 1;
    e.folder = "";
    EXPECT_EQ(DeletionNotice(e, "ab").text, "ファイルが削除されました。");
    // A stored name of Japanese text is shown as such.
    e.folder = "/w";
    EXPECT_EQ(DeletionNotice(e, "\x95\xf1\x8d\x90.txt").text,
              "/w" + kSep + "報告.txt が削除されました。");
}

}  // namespace
}  // namespace tavren::engine

namespace tavren::engine {
namespace {

// A look by names must plan what a look at the whole listing plans, given
// the names of every file that changed (and any others): random folders,
// random changes, both entry kinds.
TEST(RescanPlan, LookByNamesPlansWhatTheWholeListingPlans) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        const int records = static_cast<int>(random() % 12);
        std::map<std::string, SnapshotItem> before;
        for (int i = 0; i < records; ++i) {
            const std::string name = "f" + std::to_string(i);
            before[name] = Item(name, 10 + static_cast<std::uint32_t>(random() % 3));
        }
        // The folder now: some files changed, removed, renamed or new.
        std::map<std::string, SnapshotItem> now = before;
        std::set<std::string> named;
        for (int k = static_cast<int>(random() % 5); k > 0; --k) {
            const std::string name = "f" + std::to_string(random() % 16);
            switch (random() % 4) {
                case 0:
                    now.erase(name);
                    break;
                case 1:
                    now[name] = Item(name, 20 + static_cast<std::uint32_t>(random() % 3));
                    break;
                case 2:
                    if (auto it = now.find(name); it != now.end()) {
                        const std::string to = "g" + std::to_string(random() % 4);
                        now[to] = Item(to, it->second.size);
                        now.erase(it);
                        named.insert(to);
                    }
                    break;
                default:
                    break;  // told of, but nothing changed
            }
            named.insert(name);
        }
        for (const WatchEntry& entry : {NameEntry(), [] {
                                            WatchEntry e = NameEntry();
                                            e.timing = 0;
                                            return e;
                                        }()}) {
            auto full = SnapshotList();
            auto byNames = SnapshotList();
            for (const auto& [name, item] : before) {
                full.Append(item);
                byNames.Append(item);
            }
            std::vector<FoundFile> listing, described;
            std::vector<std::string> missing;
            for (const auto& [name, item] : now) {
                listing.push_back({name, item});
                if (named.contains(name)) described.push_back({name, item});
            }
            for (const std::string& name : named) {
                if (!now.contains(name)) missing.push_back(name);
            }
            const RescanPlan a = PlanRescan(full, listing, entry);
            const RescanPlan b = PlanNamedLook(byNames, described, missing, entry);
            auto names = [](const std::vector<const store::SnapshotNode*>& nodes) {
                std::set<std::string> out;
                for (const auto* n : nodes) out.insert(n->item.name);
                return out;
            };
            EXPECT_EQ(Names(a), Names(b)) << "round " << round;
            EXPECT_EQ(names(a.gone), names(b.gone)) << "round " << round;
            EXPECT_EQ(names(a.deleted), names(b.deleted)) << "round " << round;
            EXPECT_EQ(a.unchanged, b.unchanged) << "round " << round;
        }
    }
}

// Names alone may serve a look only once a listing taken after their
// subscription began was compared, and only while none were lost.
TEST(NotifiedNames, CountOnlyAfterAListingAndUntilSomeAreLost) {
    NotifiedNames notified;
    std::vector<std::string> got;
    auto add = [&](std::uint64_t source, bool complete, std::vector<std::string> names) {
        notified.Add(source, complete, names);
    };
    notified.Begin(7);
    add(7, true, {"a"});
    EXPECT_FALSE(notified.Take(7, got));  // nothing listed yet
    notified.Listed(7);
    add(7, true, {"b"});
    add(3, true, {"stale"});  // another subscription's
    ASSERT_TRUE(notified.Take(7, got));
    EXPECT_EQ(got, std::vector<std::string>{"b"});
    add(7, true, {"during"});
    EXPECT_EQ(notified.Since(7), std::vector<std::string>{"during"});
    add(7, false, {});  // lost while the look ran
    notified.Listed(7);
    EXPECT_FALSE(notified.Take(7, got));  // so the next look lists
    notified.Listed(7);
    add(7, true, {"c"});
    notified.Begin(8);  // watched anew
    EXPECT_FALSE(notified.Take(8, got));
    notified.Listed(8);
    EXPECT_TRUE(notified.Take(8, got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(notified.Take(7, got));
}

}  // namespace
}  // namespace tavren::engine
