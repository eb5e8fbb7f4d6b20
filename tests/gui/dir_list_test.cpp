#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "gui/gui_support.h"
#include "platform/posix/desktop_entry.h"
#include "platform/start_with_desktop.h"
#include "store/settings_file.h"
#include "support/slot_images.h"
#include "support/temp_dir.h"
#include "ui/qt/dir_list_dlg.h"
#include "ui/qt/prompts.h"
#include "ui/qt/set_env_dlg.h"

namespace tavren::ui {
namespace {

namespace fs = std::filesystem;
using store::SlotImage;

const QString kOpenError = QStringLiteral("書込みファイルオープンエラー");

int ReadStartSetting() {
    return platform::SystemStartSetting().Read();
}
void ApplyStartSetting(int enabled) {
    platform::SystemStartSetting().Apply(enabled);
}
QString AutostartFilePath() {
    return QString::fromStdString(platform::xdg::AutostartFilePath().string());
}

class DirListDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        ASSERT_TRUE(data_.Prepare().ok());
        const QString config = QString::fromStdString((temp_ / "config").string());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        SetPromptBackend(&prompts_);
    }
    void TearDown() override {
        SetPromptBackend(nullptr);
        qunsetenv("XDG_CONFIG_HOME");
    }

    void WriteSettings(const std::vector<SlotImage>& images) {
        test::WriteBytes(data_.settingsFile(), test::SlotBytes(images));
    }
    std::string FileBytes() const { return test::ReadBytes(data_.settingsFile()); }
    SlotImage FileSlot(std::size_t i) const {
        SlotImage image;
        std::memcpy(&image, FileBytes().substr(i * store::kSlotSize, sizeof image).data(),
                    sizeof image);
        return image;
    }

    void Open() {
        // The editor answers once with editorAnswer_, then as if cancelled.
        dlg_ = std::make_unique<CDirListDlg>(data_, nullptr,
                                             [this](QWidget*, const rules::EditorInput& in) {
                                                 editorCalls_.push_back(in);
                                                 return std::exchange(editorAnswer_, std::nullopt);
                                             });
        dlg_->show();
    }
    void Click(int id) {
        dlg_->findChild<QPushButton*>(QStringLiteral("button%1").arg(id))->click();
    }
    QListWidget* List() const { return dlg_->findChild<QListWidget*>("list1019"); }
    QCheckBox* Check() const { return dlg_->findChild<QCheckBox*>("check1011"); }
    QString Label(const char* name) const { return dlg_->findChild<QLabel*>(name)->text(); }
    QString RunCaption() const { return dlg_->findChild<QPushButton*>("button1021")->text(); }
    QStringList Lines() const {
        QStringList lines;
        for (int i = 0; i < List()->count(); ++i) lines << List()->item(i)->text();
        return lines;
    }
    int Selected() const {
        const auto items = List()->selectedItems();
        return items.isEmpty() ? -1 : List()->row(items.front());
    }

    test::TempDir temp_;
    store::DataFolder data_{temp_ / "data"};
    test::ScriptedPrompts prompts_;
    std::optional<rules::EntryValues> editorAnswer_;
    std::vector<rules::EditorInput> editorCalls_;
    std::unique_ptr<CDirListDlg> dlg_;
};

TEST_F(DirListDlgTest, ListsEverySlotAndWritesUntouchedOnesBackByteForByte) {
    SlotImage odd = test::MakeSlot("監視A", true);
    odd.running[1] = 1;  // any non-zero value means running, and is kept
    const std::vector<SlotImage> images = {odd, test::MakeSlot("B", false)};
    WriteSettings(images);
    ApplyStartSetting(1);
    QFile::remove(AutostartFilePath());

    Open();
    EXPECT_EQ(Lines(), QStringList({"【実行中】 監視A", "【停止中】 B"}));
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(Label("static1022"), "/watch/監視A");
    EXPECT_EQ(Label("static1023"), "/bin/監視A");
    EXPECT_EQ(RunCaption(), "実  行  中");
    EXPECT_TRUE(Check()->isChecked());

    Click(1);
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(FileBytes(), test::SlotBytes(images));
    EXPECT_FALSE(QFile::exists(AutostartFilePath())) << "an unchanged check box applies nothing";
    EXPECT_TRUE(prompts_.notices.isEmpty());
}

TEST_F(DirListDlgTest, MissingFileOpensEmptyAndEnterSavesAnEmptyFile) {
    Open();
    EXPECT_TRUE(Lines().isEmpty());
    EXPECT_TRUE(Label("static1022").isEmpty());
    EXPECT_FALSE(Check()->isChecked());
    for (int id : {1017, 1018, 1021}) Click(id);
    EXPECT_EQ(prompts_.notices, QStringList({"変更される設定タイトルを選んでください。",
                                             "削除対象の設定タイトルを選んでください。",
                                             "設定タイトルを選んでください。"}));
    QTest::keyClick(List(), Qt::Key_Return);
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_TRUE(fs::is_regular_file(data_.settingsFile()));
    EXPECT_EQ(FileBytes(), "");
}

TEST_F(DirListDlgTest, UnreadableFileIsReportedAndNotReplacedUnasked) {
    fs::create_directory(data_.settingsFile());  // there, but not readable as a file
    Open();
    ASSERT_EQ(prompts_.notices.size(), 1);
    EXPECT_TRUE(prompts_.notices[0].contains("読み込めません"));
    Click(1);  // answered No
    EXPECT_EQ(prompts_.questions.size(), 1);
    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_TRUE(fs::is_directory(data_.settingsFile()));
}

TEST_F(DirListDlgTest, KeepsAtMost200EntriesAndRefusesANewOne) {
    std::vector<SlotImage> images;
    for (int i = 0; i < 205; ++i) images.push_back(test::MakeSlot("e" + std::to_string(i), i % 2));
    WriteSettings(images);
    Open();
    EXPECT_EQ(List()->count(), 200);
    Click(1016);
    ASSERT_EQ(prompts_.notices.size(), 2);  // the five slots left unread are told first
    EXPECT_EQ(prompts_.notices.last(),
              "既に登録可能数に達しております。これ以上は登録できません。");
    EXPECT_TRUE(editorCalls_.empty());
    Click(1);
    images.resize(200);
    EXPECT_EQ(FileBytes(), test::SlotBytes(images));
}

TEST_F(DirListDlgTest, NewEntryIsAppendedRunningWithFullLengthPaths) {
    WriteSettings({test::MakeSlot("A", false)});
    rules::EntryValues v;
    v.title = "新しい監視";
    v.program = "/" + std::string(125, 'p');
    v.moveTo = "/" + std::string(125, 'm');
    v.openFile = 5;
    v.overwrite = 0x10001;  // narrowed to 16 bits
    editorAnswer_ = v;

    Open();
    Click(1016);
    ASSERT_EQ(editorCalls_.size(), 1u);
    EXPECT_EQ(editorCalls_[0].editMode, 0);
    EXPECT_EQ(Lines(), QStringList({"【停止中】 A", "【実行中】 新しい監視"}));
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(Label("static1022"), "/watch/A");

    Click(1);
    ASSERT_EQ(FileBytes().size(), 2 * store::kSlotSize);
    EXPECT_EQ(FileBytes().substr(0, store::kSlotSize),
              test::SlotBytes({test::MakeSlot("A", false)}));
    const SlotImage added = FileSlot(1);
    const store::Slot slot = store::DecodeSlot(added);
    EXPECT_TRUE(slot.running);
    EXPECT_EQ(slot.entry.program.size(), 126u);
    EXPECT_EQ(slot.entry.moveTo.size(), 126u);
    EXPECT_EQ(slot.entry.openFile, 1);
    EXPECT_EQ(slot.entry.overwrite, 1);
    EXPECT_EQ(slot.entry.timing, 1);
    EXPECT_EQ(added.title[std::strlen(added.title) + 1], 0) << "a fresh slot has zero tails";
}

TEST_F(DirListDlgTest, ChangeHandsTheEntryOverAndMakesItRunning) {
    SlotImage b = test::MakeSlot("B", false);
    b.messageMode[0] = b.messageMode[1] = static_cast<char>(0xFF);  // -1
    b.openFile[0] = 7;
    WriteSettings({test::MakeSlot("A", true), b});

    Open();
    List()->setCurrentRow(1);
    EXPECT_EQ(Label("static1022"), "/watch/B");
    Click(1017);  // editor cancelled: nothing changes
    ASSERT_EQ(editorCalls_.size(), 1u);
    rules::EntryValues v = editorCalls_[0].values;
    EXPECT_EQ(editorCalls_[0].editMode, 1);
    EXPECT_EQ(v.title, "B");
    EXPECT_EQ(v.messageMode, -1);
    EXPECT_EQ(v.openFile, 1);
    EXPECT_EQ(Lines()[1], "【停止中】 B");

    v.title = "B2";
    v.folder = "/new";
    editorAnswer_ = v;
    Click(1017);
    EXPECT_EQ(Lines(), QStringList({"【実行中】 A", "【実行中】 B2"}));
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(Label("static1022"), "/new");

    Click(1);
    EXPECT_EQ(FileBytes().substr(0, store::kSlotSize),
              test::SlotBytes({test::MakeSlot("A", true)}));
    const store::Slot changed = store::DecodeSlot(FileSlot(1));
    EXPECT_TRUE(changed.running);
    EXPECT_EQ(changed.entry.title, "B2");
    EXPECT_EQ(changed.entry.messageMode, -1);
}

TEST_F(DirListDlgTest, DoubleClickOnALineDoesWhatChangeDoes) {
    WriteSettings({test::MakeSlot("A", true), test::MakeSlot("B", false)});
    rules::EntryValues v;
    v.title = "B2";
    editorAnswer_ = v;
    Open();
    // As a double-click arrives: press and release, then the double-click.
    const QPoint at = List()->visualItemRect(List()->item(1)).center();
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(List()->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(editorCalls_.size(), 1u);
    EXPECT_EQ(editorCalls_[0].editMode, 1);
    EXPECT_EQ(editorCalls_[0].values.title, "B");
    EXPECT_EQ(Lines(), QStringList({"【実行中】 A", "【実行中】 B2"}));
    EXPECT_EQ(Selected(), 1);
}

// The editor closes right after its question about a missing watched
// folder; the window system then activates no window, and the keys the user
// types next went nowhere.
TEST_F(DirListDlgTest, ListHasTheKeyboardAgainAfterTheEditorCreatedTheFolder) {
    dlg_ = std::make_unique<CDirListDlg>(data_);  // the real editor
    dlg_->show();
    dlg_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
    const fs::path folder = temp_ / "new";
    QTimer::singleShot(0, dlg_.get(), [&] {
        auto* editor = dlg_->findChild<CSetEnvDlg*>();
        if (!editor) return ADD_FAILURE() << "no editor";
        editor->findChild<QLineEdit*>("edit1014")->setText(QStringLiteral("t"));
        editor->findChild<QLineEdit*>("edit1000")->setText(QString::fromStdString(folder));
        editor->findChild<QPushButton*>("button1")->click();
    });
    prompts_.answers = {true};
    Click(1016);
    ASSERT_EQ(Lines(), QStringList{"【実行中】 t"});
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(QTest::qWaitForWindowActive(dlg_.get(), 1000));
    QWidget* focus = QApplication::focusWidget();
    EXPECT_EQ(focus ? focus->window() : nullptr, dlg_.get());
}

TEST_F(DirListDlgTest, DeleteRemovesExactlyThatLineAndLeavesNoSelection) {
    WriteSettings(
        {test::MakeSlot("A", true), test::MakeSlot("B", true), test::MakeSlot("C", false)});
    Open();
    Click(1018);  // answered No
    EXPECT_EQ(
        prompts_.questions,
        QStringList{"この設定情報を削除してよろしいですか？「はい／いいえ」を選んでください。"});
    EXPECT_EQ(List()->count(), 3);

    prompts_.answers = {true};
    Click(1018);
    EXPECT_EQ(Lines(), QStringList({"【実行中】 B", "【停止中】 C"}));
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(Label("static1022"), "/watch/A") << "the texts stay as they were";

    rules::EntryValues d;
    d.title = "D";
    editorAnswer_ = d;
    Click(1016);
    List()->setCurrentRow(1);
    prompts_.answers = {true};
    Click(1018);
    EXPECT_EQ(Lines(), QStringList({"【実行中】 B", "【実行中】 D"}));
    Click(1);
    ASSERT_EQ(FileBytes().size(), 2 * store::kSlotSize);
    EXPECT_EQ(FileBytes().substr(0, store::kSlotSize),
              test::SlotBytes({test::MakeSlot("B", true)}));
}

TEST_F(DirListDlgTest, CancelAsksOnlyAfterNewChangeOrRunStop) {
    const std::vector<SlotImage> images = {test::MakeSlot("A", true), test::MakeSlot("B", true)};
    WriteSettings(images);

    Open();  // a deletion, a cancelled editor and the check box do not count
    prompts_.answers = {true};
    Click(1018);
    Click(1016);
    Check()->click();
    prompts_.questions.clear();
    Click(2);
    EXPECT_TRUE(prompts_.questions.isEmpty());
    EXPECT_EQ(dlg_->result(), QDialog::Rejected);

    Open();
    Click(1021);
    EXPECT_EQ(Lines()[0], "【停止中】 A");
    EXPECT_EQ(RunCaption(), "停  止  中");
    Click(1021);
    EXPECT_EQ(Lines()[0], "【実行中】 A");
    EXPECT_EQ(Selected(), 0);
    Check()->click();
    List()->setCurrentRow(1);
    EXPECT_EQ(RunCaption(), "実  行  中");
    EXPECT_TRUE(Check()->isChecked());
    List()->clearSelection();
    EXPECT_EQ(prompts_.notices, QStringList{"リストを選んでください。"})
        << "the dialog's own list changes are no user selection";

    // Cancel, Escape and the close box all ask; No keeps the dialog open.
    Click(2);
    QTest::keyClick(List(), Qt::Key_Escape);
    dlg_->close();
    EXPECT_EQ(prompts_.questions.size(), 3);
    EXPECT_EQ(
        prompts_.questions.back(),
        "情報が更新されています、保存しなくてよろしいですか？「はい／いいえ」を選んでください。");
    EXPECT_TRUE(dlg_->isVisible());
    prompts_.answers = {true};
    QTest::keyClick(List(), Qt::Key_Escape);
    EXPECT_EQ(dlg_->result(), QDialog::Rejected);
    EXPECT_EQ(FileBytes(), test::SlotBytes(images));
    EXPECT_EQ(ReadStartSetting(), 0);
}

TEST_F(DirListDlgTest, FailedSaveKeepsTheDialogTheOldFileAndTheStartSetting) {
    WriteSettings({test::MakeSlot("A", true)});
    Open();
    Click(1021);
    Check()->click();

    // The tavdat folder replaced by a file: the settings file cannot be opened.
    const fs::path away = temp_ / "tavdat-away";
    fs::rename(data_.tavdat(), away);
    test::WriteBytes(data_.tavdat(), "x");
    Click(1);
    EXPECT_EQ(prompts_.notices, QStringList{kOpenError});
    fs::remove(data_.tavdat());
    fs::rename(away, data_.tavdat());

    if (geteuid() != 0) {  // permissions do not stop root
        fs::permissions(data_.tavdat(), fs::perms::owner_write, fs::perm_options::remove);
        Click(1);
        EXPECT_EQ(prompts_.notices.back(), kOpenError);
        fs::permissions(data_.tavdat(), fs::perms::owner_write, fs::perm_options::add);
    }

    // A write that fails after the file was opened: the file size limit.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Click(1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(prompts_.notices.back().endsWith("元の設定ファイルは変更されていません。"));

    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_EQ(FileBytes(), test::SlotBytes({test::MakeSlot("A", true)}));
    EXPECT_EQ(ReadStartSetting(), 0);
    EXPECT_FALSE(QFile::exists(AutostartFilePath()));
    EXPECT_EQ(std::distance(fs::directory_iterator(data_.tavdat()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";

    Click(1);  // the working list survived: a retry saves it
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    EXPECT_FALSE(store::IsRunning(FileSlot(0)));
    EXPECT_EQ(ReadStartSetting(), 1);
}

TEST_F(DirListDlgTest, StartSettingIsAppliedOnlyWhenTheBoxDiffersFromTheStoredValue) {
    const auto saveAfterClicks = [&](int clicks) {
        Open();
        for (int i = 0; i < clicks; ++i) Check()->click();
        Click(1);
        return Check()->isChecked();
    };
    EXPECT_TRUE(saveAfterClicks(1));
    EXPECT_EQ(ReadStartSetting(), 1);
    EXPECT_TRUE(QFile::exists(AutostartFilePath()));

    QFile::remove(AutostartFilePath());  // removed by hand, box left checked
    saveAfterClicks(0);
    saveAfterClicks(2);
    EXPECT_FALSE(QFile::exists(AutostartFilePath()));

    ApplyStartSetting(1);
    EXPECT_FALSE(saveAfterClicks(1));
    EXPECT_EQ(ReadStartSetting(), 0);
    EXPECT_FALSE(QFile::exists(AutostartFilePath()));

    test::WriteBytes(platform::xdg::SettingsFilePath(), "[Tavren]\nnStart=5\n");
    EXPECT_TRUE(saveAfterClicks(0));
    EXPECT_EQ(ReadStartSetting(), 1);
    EXPECT_TRUE(QFile::exists(AutostartFilePath()));
}

}  // namespace
}  // namespace tavren::ui
