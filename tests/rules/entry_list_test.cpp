#include "ui/rules/entry_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/start_with_desktop.h"
#include "rules/scripted_prompts.h"
#include "store/settings_file.h"
#include "support/slot_images.h"
#include "support/temp_dir.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::rules {
namespace {

namespace fs = std::filesystem;
using store::SlotImage;
using Strings = std::vector<std::string>;

class FakeStartSetting final : public platform::StartSetting {
public:
    int Read() override { return stored; }
    void Apply(int enabled) override {
        stored = enabled;
        applied.push_back(enabled);
    }
    int stored = 0;
    std::vector<int> applied;
};

// A list line: the state's mark, then the title.
std::string Line(std::string_view state, std::string_view title) {
    return std::string(state).append(title);
}

class EntryListTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(file_.parent_path()); }

    void Write(const std::vector<SlotImage>& images) {
        test::WriteBytes(file_, test::SlotBytes(images));
    }
    std::string FileBytes() const { return test::ReadBytes(file_); }

    // The editor answers once with `answer`, then as if cancelled.
    void Open() {
        list_.emplace(file_, prompts_, start_, [this](const EditorInput& input) {
            calls_.push_back(input);
            return std::exchange(answer_, std::nullopt);
        });
        list_->Open();
    }
    Strings Lines() const {
        Strings lines;
        for (std::size_t i = 0; i < list_->lineCount(); ++i) lines.push_back(list_->Line(i));
        return lines;
    }

    test::TempDir tmp_;
    fs::path file_ = tmp_ / "tavdat" / "dirinfo.dat";
    test::ScriptedPrompts prompts_;
    FakeStartSetting start_;
    std::optional<EntryValues> answer_;
    std::vector<EditorInput> calls_;
    std::optional<EntryList> list_;
};

TEST_F(EntryListTest, FirstRunShowsAnEmptyListAndSavesAnEmptyFile) {
    start_.stored = 1;
    Open();
    EXPECT_EQ(list_->lineCount(), 0u);
    EXPECT_EQ(list_->selected(), -1);
    EXPECT_TRUE(list_->folderText().empty() && list_->programText().empty());
    EXPECT_TRUE(list_->startWithDesktop);
    ASSERT_TRUE(list_->Save());
    EXPECT_TRUE(fs::exists(file_));
    EXPECT_EQ(fs::file_size(file_), 0u);
    EXPECT_TRUE(start_.applied.empty());
}

TEST_F(EntryListTest, ListsEverySlotAndWritesUntouchedOnesBackByteForByte) {
    SlotImage odd = test::MakeSlot("A", true);
    odd.running[1] = 1;  // any non-zero value means running, and is kept
    std::vector<SlotImage> images = {odd, test::MakeSlot("B", false)};
    for (int i = 0; i < 200; ++i) images.push_back(test::MakeSlot(std::to_string(i), false));
    Write(images);
    Open();
    ASSERT_EQ(list_->lineCount(), 200u);  // only the first 200
    EXPECT_EQ(Lines()[0], Line(text::kRunningLine, "A"));
    EXPECT_EQ(Lines()[1], Line(text::kStoppedLine, "B"));
    EXPECT_EQ(list_->selected(), 0);
    EXPECT_EQ(list_->folderText(), "/watch/A");
    EXPECT_EQ(list_->programText(), "/bin/A");

    list_->New();  // full: the editor never opens
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(prompts_.notices.back(), text::kListFull);
    ASSERT_TRUE(list_->Save());
    images.resize(200);
    EXPECT_EQ(FileBytes(), test::SlotBytes(images));
}

TEST_F(EntryListTest, NewAndChangeStoreTheEditorsValuesAsRunningEntries) {
    Write({test::MakeSlot("A", false), test::MakeSlot("B", false)});
    Open();
    EntryValues added;
    added.title = "新しい監視";
    added.program = "/" + std::string(125, 'p');  // paths kept in full
    added.overwrite = 0x10001;                    // narrowed to 16 bits
    answer_ = added;
    list_->New();
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].editMode, 0);
    EXPECT_EQ(Lines().back(), Line(text::kRunningLine, "新しい監視"));
    EXPECT_EQ(list_->selected(), 0);  // the selection and texts stay
    EXPECT_EQ(list_->folderText(), "/watch/A");

    list_->SelectionChanged(1);
    EntryValues changed = ValuesOf(store::DecodeSlot(test::MakeSlot("B", false)).entry);
    changed.title = "B2";
    answer_ = changed;
    list_->Change();
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[1].editMode, 1);
    EXPECT_EQ(calls_[1].values.title, "B");
    EXPECT_EQ(Lines()[1], Line(text::kRunningLine, "B2"));  // stopped, now running
    EXPECT_EQ(list_->selected(), 1);
    EXPECT_EQ(list_->folderText(), "/watch/B");

    list_->Change();  // cancelled: nothing changes
    ASSERT_TRUE(list_->Save());
    const std::string bytes = FileBytes();
    ASSERT_EQ(bytes.size(), 3 * store::kSlotSize);
    SlotImage last;
    std::memcpy(&last, bytes.data() + 2 * store::kSlotSize, sizeof last);
    const store::Slot slot = store::DecodeSlot(last);
    EXPECT_TRUE(slot.running);
    EXPECT_EQ(slot.entry.program, added.program);
    EXPECT_EQ(slot.entry.overwrite, 1);
}

// Which commands make Cancel ask, and what Delete leaves selected.
TEST_F(EntryListTest, OnlyNewChangeAndRunStopMakeCancelAsk) {
    Write({test::MakeSlot("A", true), test::MakeSlot("B", true), test::MakeSlot("C", true)});
    Open();
    list_->SelectionChanged(0);
    prompts_.answers = {true};
    list_->Delete();
    EXPECT_EQ(prompts_.questions, Strings{std::string(text::kAskDelete)});
    EXPECT_EQ(Lines(), (Strings{Line(text::kRunningLine, "B"), Line(text::kRunningLine, "C")}));
    EXPECT_EQ(list_->selected(), -1);
    EXPECT_EQ(list_->folderText(), "/watch/A");  // the texts stay
    EXPECT_FALSE(list_->modified());
    for (auto command : {&EntryList::Change, &EntryList::Delete, &EntryList::RunStop}) {
        ((*list_).*command)();
    }
    EXPECT_EQ(prompts_.notices,
              (Strings{std::string(text::kChooseToChange), std::string(text::kChooseToDelete),
                       std::string(text::kChooseToSwitch)}));
    list_->SelectionChanged(-1);
    EXPECT_EQ(prompts_.notices.back(), text::kChooseFromList);
    EXPECT_TRUE(list_->Cancel());  // no question: a deletion alone is no change

    // Run/stop twice: the entry is back as it was, but the list is modified.
    Open();
    list_->SelectionChanged(1);
    list_->RunStop();
    EXPECT_EQ(list_->runCaption(), text::kStopped);
    EXPECT_EQ(Lines()[1], Line(text::kStoppedLine, "B"));
    list_->SelectionChanged(0);
    EXPECT_EQ(list_->runCaption(), text::kStopped);  // selecting does not change it
    list_->SelectionChanged(1);
    list_->RunStop();
    EXPECT_EQ(list_->runCaption(), text::kRunning);
    prompts_.questions.clear();
    prompts_.answers = {false};
    EXPECT_FALSE(list_->Cancel());
    EXPECT_EQ(prompts_.questions, Strings{std::string(text::kAskDiscard)});
    prompts_.answers = {true};
    EXPECT_TRUE(list_->Cancel());
    EXPECT_EQ(FileBytes(), test::SlotBytes({test::MakeSlot("A", true), test::MakeSlot("B", true),
                                            test::MakeSlot("C", true)}));  // nothing written
}

// The start setting is applied on Save only, and only when the box differs
// from the value read when the list opened.
TEST_F(EntryListTest, StartSettingIsAppliedOnlyWhenTheBoxDiffers) {
    const struct {
        int stored;
        std::vector<bool> clicks;
        std::vector<int> applied;
    } cases[] = {
        {0, {}, {}},  {0, {true}, {1}}, {1, {false}, {0}}, {0, {true, false}, {}},
        {5, {}, {1}},  // an odd stored value shows checked, and saving makes it 1
    };
    for (const auto& c : cases) {
        start_ = FakeStartSetting{};
        start_.stored = c.stored;
        Open();
        for (bool click : c.clicks) list_->startWithDesktop = click;
        ASSERT_TRUE(list_->Save());
        EXPECT_EQ(start_.applied, c.applied) << c.stored;
    }

    // A failed save writes nothing and applies nothing; the list stays.
    Write({test::MakeSlot("A", true)});
    start_ = FakeStartSetting{};
    Open();
    list_->startWithDesktop = true;
    fs::remove_all(file_.parent_path());
    test::WriteBytes(file_.parent_path(), "not a folder");
    EXPECT_FALSE(list_->Save());
    EXPECT_EQ(prompts_.notices.back(), text::kOpenForWriteError);
    EXPECT_TRUE(start_.applied.empty());
    EXPECT_EQ(list_->lineCount(), 1u);
    EXPECT_TRUE(list_->Cancel());
    EXPECT_TRUE(start_.applied.empty());
}

TEST_F(EntryListTest, UnreadableFileIsToldAndReplacedOnlyWhenConfirmed) {
    fs::create_directories(file_);  // a folder where the file should be
    Open();
    ASSERT_EQ(prompts_.notices.size(), 1u);
    EXPECT_NE(prompts_.notices[0].find(text::kUnreadWillBeReplaced), std::string::npos);
    EXPECT_EQ(list_->lineCount(), 0u);
    prompts_.answers = {false};
    EXPECT_FALSE(list_->Save());
    EXPECT_EQ(prompts_.questions, Strings{std::string(text::kAskReplaceUnread)});
    EXPECT_TRUE(fs::is_directory(file_));
}

// Bytes the list cannot hold (a slot cut short, slots past the 200th) are
// told at open, and the first save keeps the old file whole beside the new
// one, never replacing an earlier copy.
TEST_F(EntryListTest, DamagedFileIsToldAndKeptWholeWhenSaved) {
    const std::vector<SlotImage> slots(201, test::MakeSlot("A", true));
    const std::string all = test::SlotBytes(slots);
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t lines;
        std::string unread;
    };
    const Case cases[] = {
        {"slot cut short", all.substr(0, store::kSlotSize + 100), 1, " 100 バイト"},
        {"201 slots", all, 200, " 632 バイト"},
    };
    std::vector<fs::path> copies;
    for (const Case& c : cases) {
        test::WriteBytes(file_, c.bytes);
        prompts_.notices.clear();
        Open();
        ASSERT_EQ(prompts_.notices.size(), 1u) << c.name;
        EXPECT_NE(prompts_.notices[0].find(c.unread), std::string::npos) << prompts_.notices[0];
        EXPECT_EQ(list_->lineCount(), c.lines) << c.name;
        ASSERT_TRUE(list_->Save()) << c.name;
        EXPECT_EQ(FileBytes(), c.bytes.substr(0, c.lines * store::kSlotSize)) << c.name;
        copies.push_back(file_.string() + (copies.empty() ? ".damaged" : ".damaged-2"));
        EXPECT_EQ(prompts_.notices.back(), store::KeptCopyNotice(copies.back())) << c.name;
        EXPECT_EQ(test::ReadBytes(copies.back()), c.bytes) << c.name;
    }
    // Intact now: nothing more is told or kept.
    prompts_.notices.clear();
    Open();
    ASSERT_TRUE(list_->Save());
    EXPECT_TRUE(prompts_.notices.empty());
    EXPECT_FALSE(fs::exists(file_.string() + ".damaged-3"));
}

}  // namespace
}  // namespace tavren::rules
