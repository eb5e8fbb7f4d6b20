#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <array>
#include <filesystem>

#include "gui/gui_support.h"
#include "support/temp_dir.h"
#include "ui/qt/after_proc_dlg.h"
#include "ui/qt/cp932_limits.h"
#include "ui/qt/file_proc_dlg.h"
#include "ui/qt/notice_proc_dlg.h"
#include "ui/qt/program_file_dialog.h"
#include "ui/qt/prompts.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/set_env_dlg.h"

// Failures show the texts, not their UTF-16 units.
static void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}

namespace tavren::ui {
namespace {

namespace fs = std::filesystem;

const QString kNoPattern = QStringLiteral("対象ファイル名の入力がございません。");
const QString kNoMoveTo = QStringLiteral("移動先フォルダ名の入力がございません。");
const QString kNoTitle = QStringLiteral("タイトルの入力がございません。");
const QString kNoFolder = QStringLiteral("監視するフォルダの入力がございません。");
const QString kAsk = QStringLiteral(
    "は存在しません。このフォルダを作成しますか？「はい／いいえ」を選んでください。");
const QString kFolderMissing = QStringLiteral("指定された監視フォルダ") + kAsk;
const QString kMoveToMissing = QStringLiteral("指定された移動先フォルダ") + kAsk;
const QString kFolderNotCreated = QStringLiteral("指定された監視フォルダは作成できませんでした。");
const QString kMoveToNotCreated =
    QStringLiteral("指定された移動先フォルダは作成できませんでした。");

QString Q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// Text arrives as input-method commits, one character at a time, as a
// Japanese input method delivers it; a refusal's message is posted.
void Type(QLineEdit* edit, const QString& text) {
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() ? 2 : 1;
        QInputMethodEvent commit;
        commit.setCommitString(text.mid(i, n));
        QApplication::sendEvent(edit, &commit);
        QCoreApplication::sendPostedEvents();
        i += n;
    }
}

class EditorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::EnsureApp(); }  // before the fixture's dialog exists
    void SetUp() override { SetPromptBackend(&prompts); }
    void TearDown() override { SetPromptBackend(nullptr); }

    void Open() {
        dlg.show();
        QApplication::setActiveWindow(&dlg);
    }
    template <class T = QWidget>
    T* Get(const char* name) {
        T* w = dlg.findChild<T*>(QString::fromLatin1(name));
        if (!w) ADD_FAILURE() << "no control " << name;
        return w;
    }
    QLineEdit* Edit(const char* name) { return Get<QLineEdit>(name); }
    QLineEdit* WaveEdit() { return dlg.findChild<CNoticeProcDlg*>()->WaveEdit(); }
    bool Checked(const char* name) { return Get<QAbstractButton>(name)->isChecked(); }
    bool Enabled(const char* name) { return Get(name)->isEnabled(); }
    void Click(const char* name) { Get<QAbstractButton>(name)->click(); }
    void SelectTab(int index) { Get<QTabWidget>("tab1034")->setCurrentIndex(index); }
    int Tab() { return Get<QTabWidget>("tab1034")->currentIndex(); }
    bool Accepted() const { return dlg.result() == QDialog::Accepted && !dlg.isVisible(); }
    void FillTitleAndFolder() {
        Edit("edit1014")->setText(QStringLiteral("監視"));
        Edit("edit1000")->setText(Q(tmp.path()));
    }
    // fileMode, timing, messageMode, soundMode, afterMode, overwrite, openFile, waitExit
    std::array<int, 8> Ints() {
        return {dlg.values().fileMode,  dlg.values().timing,    dlg.values().messageMode,
                dlg.values().soundMode, dlg.values().afterMode, dlg.values().overwrite,
                dlg.values().openFile,  dlg.values().waitExit};
    }
    qsizetype Pages() const {
        return dlg.findChildren<CFileProcDlg*>().size() +
               dlg.findChildren<CNoticeProcDlg*>().size() +
               dlg.findChildren<CAfterProcDlg*>().size();
    }

    test::TempDir tmp;
    test::ScriptedPrompts prompts;
    CSetEnvDlg dlg;
};

TEST_F(EditorTest, NewEntryStartsFromTheDefaultsAndReturnsThem) {
    Open();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("監視フォルダ設定 新規登録"));
    auto* tab = Get<QTabWidget>("tab1034");
    EXPECT_EQ(tab->tabText(0) + tab->tabText(1) + tab->tabText(2),
              QStringLiteral(" 対象ファイル  通知の有無  後処理の指定 "));
    EXPECT_EQ(Tab(), 0);
    EXPECT_EQ(Pages(), 1);
    EXPECT_TRUE(Checked("radio1024") && Checked("radio1036") && !Enabled("edit1026"));
    // Shown on two lines, but each option keeps its whole text.
    EXPECT_EQ(Get<QAbstractButton>("radio1036")->text(),
              QStringLiteral("ファイルの作成、名前の変更"));
    EXPECT_EQ(Get<QAbstractButton>("radio1035")->text(),
              QStringLiteral("ファイルが更新された場合"));
    EXPECT_FALSE(Enabled("check1002"));  // no program yet
    EXPECT_TRUE(Edit("edit1014")->text().isEmpty());

    FillTitleAndFolder();
    Click("button1");
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(Ints(), (std::array{0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Q(dlg.values().program).isEmpty() && Q(dlg.values().pattern).isEmpty() &&
                Q(dlg.values().moveTo).isEmpty());
}

TEST_F(EditorTest, ChangedEntryRoundTripsThroughEveryPageOneAtATime) {
    dlg.rules().editMode = 1;
    dlg.values().title = "  ";  // spaces only: not empty, not trimmed
    dlg.values().folder = tmp.path().string();
    dlg.values().program = "/usr/bin/true";
    dlg.values().waitExit = 1;
    dlg.values().fileMode = 1;
    dlg.values().pattern = "abc*.*";
    dlg.values().timing = 0;
    dlg.values().messageMode = 1;
    dlg.values().soundMode = 2;
    test::WriteBytes(tmp / "ding.wav", "");  // a WAV file that is not there is refused
    dlg.values().waveFile = (tmp / "ding.wav").string();
    dlg.values().afterMode = 2;
    dlg.values().moveTo = tmp.path().string();
    dlg.values().overwrite = 5;
    Open();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("監視フォルダ設定 変更登録"));
    EXPECT_TRUE(Checked("check1002") && Enabled("check1002"));
    EXPECT_TRUE(Checked("radio1025") && Checked("radio1035") && Enabled("edit1026"));
    SelectTab(1);
    EXPECT_EQ(Pages(), 1);
    EXPECT_TRUE(Checked("check1027") && Checked("check1028") && Checked("radio1007"));
    EXPECT_EQ(WaveEdit()->text(), Q(dlg.values().waveFile));
    SelectTab(2);
    EXPECT_EQ(Pages(), 1);
    EXPECT_EQ(dlg.rules().currentPage(), 2);
    EXPECT_TRUE(Checked("radio1037") && Checked("check1003") && Enabled("button1038"));
    SelectTab(0);
    Click("button1");
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(Ints(), (std::array{1, 0, 1, 2, 2, 1, 0, 1}));
    EXPECT_EQ(Q(dlg.values().title) + Q(dlg.values().pattern) + Q(dlg.values().waveFile),
              QStringLiteral("  abc*.*") + Q(tmp / "ding.wav"));
}

TEST_F(EditorTest, NotificationEncodingsAndTheSoundRule) {
    struct Case {
        int messageMode, soundMode;
        bool message, sound, wave;
        int messageBack, soundBack;
    };
    for (const Case c :
         {Case{0, 0, false, false, false, 0, 0}, Case{2, 1, true, true, false, 1, 1},
          Case{1, 2, true, true, true, 1, 2}, Case{0, 7, false, true, false, 0, 1}}) {
        CSetEnvDlg editor;
        editor.values().messageMode = c.messageMode;
        editor.values().soundMode = c.soundMode;
        editor.show();
        editor.findChild<QTabWidget*>()->setCurrentIndex(1);
        auto is = [&](const char* name) {
            return editor.findChild<QAbstractButton*>(name)->isChecked();
        };
        EXPECT_EQ(is("check1027"), c.message);
        EXPECT_EQ(is("check1028"), c.sound);
        EXPECT_EQ(is("radio1007"), c.wave);
        EXPECT_EQ(editor.findChild<CNoticeProcDlg*>()->WaveEdit()->isEnabled(), c.sound && c.wave);
        editor.findChild<QTabWidget*>()->setCurrentIndex(0);
        EXPECT_EQ(editor.values().messageMode, c.messageBack)
            << c.messageMode << "/" << c.soundMode;
        EXPECT_EQ(editor.values().soundMode, c.soundBack) << c.messageMode << "/" << c.soundMode;
    }

    // The WAV choice survives turning the sound off and on again.
    dlg.values().soundMode = 2;
    Open();
    FillTitleAndFolder();
    SelectTab(1);
    Click("check1028");
    EXPECT_FALSE(Enabled("radio1007") || Enabled("button1005"));
    EXPECT_TRUE(Checked("radio1007"));
    Click("check1028");
    EXPECT_TRUE(Checked("radio1007") && Enabled("button1005"));
    Click("radio1006");
    EXPECT_FALSE(Enabled("button1005"));
    Click("radio1007");
    Click("check1028");
    Click("button1");
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dlg.values().soundMode, 0);
}

TEST_F(EditorTest, PostProcessingKeepsHandedInValuesAndTheHiddenDeleteMode) {
    dlg.values().messageMode = 2;
    dlg.values().afterMode = 2;
    dlg.values().moveTo = (tmp / "gone").string();
    dlg.values().overwrite = 3;
    Open();
    FillTitleAndFolder();
    Click("button1");  // pages never shown: no check, values as handed in
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(Ints(), (std::array{0, 1, 2, 0, 2, 3, 0, 0}));
    EXPECT_EQ(Q(dlg.values().moveTo), Q(tmp / "gone"));

    CSetEnvDlg editor;  // delete (1) has a radio that is never shown
    editor.values().afterMode = 1;
    editor.values().overwrite = 1;
    editor.show();
    auto* tab = editor.findChild<QTabWidget*>();
    tab->setCurrentIndex(2);
    auto* page = editor.findChild<CAfterProcDlg*>();
    auto get = [&](const char* name) { return page->findChild<QAbstractButton*>(name); };
    EXPECT_TRUE(get("radio1006")->isHidden());
    EXPECT_FALSE(get("radio1005")->isChecked() || get("radio1037")->isChecked());
    EXPECT_FALSE(page->MoveToEdit()->isEnabled() || get("check1003")->isEnabled());
    tab->setCurrentIndex(0);
    EXPECT_EQ(editor.values().afterMode, 1);
    EXPECT_EQ(editor.values().overwrite, 1);  // read while disabled

    tab->setCurrentIndex(2);
    page = editor.findChild<CAfterProcDlg*>();
    get("radio1037")->click();
    get("check1003")->click();
    get("radio1005")->click();
    EXPECT_FALSE(get("check1003")->isEnabled() || get("radio1006")->isVisible());
    tab->setCurrentIndex(0);
    EXPECT_EQ(editor.values().afterMode, 0);
    EXPECT_EQ(editor.values().overwrite, 0);
    EXPECT_TRUE(prompts.notices.isEmpty() && prompts.questions.isEmpty());
}

TEST_F(EditorTest, ProgramOptionsEnableAsTheirRulesSay) {
    Open();
    Type(Edit("edit1004"), QStringLiteral("a"));
    EXPECT_TRUE(Enabled("check1002"));
    Edit("edit1004")->clear();
    EXPECT_TRUE(Enabled("check1002"));

    Type(Edit("edit1004"), QStringLiteral("/bin/ls"));
    Click("check1002");
    Click("check1001");
    EXPECT_FALSE(Enabled("edit1004") || Enabled("check1002"));
    EXPECT_TRUE(Edit("edit1004")->text() == QStringLiteral("/bin/ls") && Checked("check1002"));
    EXPECT_TRUE(Enabled("button1020"));
    Edit("edit1004")->setText(QString());
    Click("check1001");  // enables both, even with no program
    EXPECT_TRUE(Enabled("edit1004") && Enabled("check1002"));
    EXPECT_EQ(dlg.values().waitExit, 1);

    CSetEnvDlg editor;
    editor.values().openFile = 1;
    editor.values().program = "/bin/ls";
    editor.show();
    EXPECT_FALSE(editor.findChild<QWidget*>("edit1004")->isEnabled() ||
                 editor.findChild<QWidget*>("check1002")->isEnabled());
}

TEST_F(EditorTest, OkChecksThePageThenTheTitleThenTheFolder) {
    Open();
    Click("radio1025");
    Click("button1");
    EXPECT_EQ(prompts.notices, QStringList{kNoPattern});
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1026"));
    Type(Edit("edit1026"), QStringLiteral("*.txt"));
    Click("button1");
    EXPECT_EQ(prompts.notices.last(), kNoTitle);
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1014"));
    Type(Edit("edit1014"), QStringLiteral("t"));
    Click("button1");
    EXPECT_EQ(prompts.notices, (QStringList{kNoPattern, kNoTitle, kNoFolder}));
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1000"));
    EXPECT_FALSE(Accepted());
}

TEST_F(EditorTest, RefusedSwitchKeepsThePageAndPutsTheTabBack) {
    Open();
    Click("radio1025");
    SelectTab(2);
    EXPECT_EQ(prompts.notices, QStringList{kNoPattern});
    EXPECT_EQ(Tab(), 0);
    EXPECT_EQ(dlg.rules().currentPage(), 0);
    EXPECT_TRUE(dlg.findChild<CFileProcDlg*>() && !dlg.findChild<CAfterProcDlg*>());
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1026"));

    // All files keeps the typed pattern in the disabled edit.
    Edit("edit1026")->setText(QStringLiteral("*.log"));
    Click("radio1024");
    SelectTab(1);
    EXPECT_EQ(dlg.rules().currentPage(), 1);
    EXPECT_EQ(dlg.values().fileMode, 0);
    EXPECT_EQ(Q(dlg.values().pattern), QStringLiteral("*.log"));
}

TEST_F(EditorTest, MissingWatchedFolderIsCreatedOneLevelOnlyAfterYes) {
    Open();
    Edit("edit1014")->setText(QStringLiteral("t"));
    const fs::path target = tmp / "new";
    Edit("edit1000")->setText(Q(target));
    prompts.answers = {false};
    Click("button1");
    EXPECT_EQ(prompts.questions, QStringList{kFolderMissing});
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1000"));
    EXPECT_FALSE(fs::exists(target));

    Edit("edit1000")->setText(Q(tmp / "no" / "parent"));
    prompts.answers = {true};
    Click("button1");
    EXPECT_EQ(prompts.notices, QStringList{kFolderNotCreated});
    EXPECT_FALSE(Accepted());

    Edit("edit1000")->setText(Q(target));
    prompts.answers = {true};
    Click("button1");
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(Accepted());

    test::WriteBytes(tmp / "file", "x");  // naming a file is refused, unasked
    CSetEnvDlg editor;
    editor.values().title = "t";
    editor.values().folder = (tmp / "file").string();
    editor.show();
    editor.findChild<QPushButton*>("button1")->click();
    EXPECT_NE(editor.result(), QDialog::Accepted);
    EXPECT_EQ(prompts.questions.size(), 3);
}

TEST_F(EditorTest, MissingDestinationIsCreatedAtOnceEvenWhenTheTitleFails) {
    Open();
    SelectTab(2);
    Click("radio1037");
    SelectTab(0);
    EXPECT_EQ(prompts.notices, QStringList{kNoMoveTo});
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1032"));

    const fs::path dest = tmp / "dest";
    Edit("edit1032")->setText(Q(dest));
    prompts.answers = {false};
    Click("button1");
    EXPECT_EQ(prompts.questions, QStringList{kMoveToMissing});
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1032"));
    EXPECT_FALSE(fs::exists(dest));
    prompts.answers = {true};
    Click("button1");
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_EQ(prompts.notices.last(), kNoTitle);

    Edit("edit1032")->setText(Q(tmp / "no" / "parent"));
    prompts.answers = {true};
    SelectTab(1);
    EXPECT_EQ(prompts.notices.last(), kMoveToNotCreated);
    EXPECT_EQ(Tab(), 2);
}

TEST_F(EditorTest, EditsCountCp932BytesWhileTyping) {
    Open();
    QLineEdit* title = Edit("edit1014");
    Type(title, QString(27, QChar(0x3042)) + QStringLiteral("a"));  // 55 bytes
    Type(title, QStringLiteral("あ"));                              // 57: refused
    EXPECT_EQ(title->text().size(), 28);
    Type(title, QStringLiteral("bc"));
    EXPECT_EQ(rules::Cp932Bytes(U8(title->text())), 56u);
    EXPECT_TRUE(prompts.notices.isEmpty());

    // No CP932 form: refused with our message. A look-alike is fine in the
    // title but would name another file in a path.
    QLineEdit* folder = Edit("edit1000");
    Type(folder, QStringLiteral("한a〜"));
    EXPECT_EQ(folder->text(), QStringLiteral("a"));
    EXPECT_EQ(prompts.notices, QStringList(2, Q(rules::NoCp932FormText())));
    title->clear();
    Type(title, QStringLiteral("〜"));
    EXPECT_EQ(title->text(), QStringLiteral("〜"));

    // The destination takes what its field stores, 126 bytes, so that it
    // never has to be cut into the name of another folder.
    SelectTab(2);
    Click("radio1037");
    const QString stem = Q(tmp.path()) + '/' + QString(123 - Q(tmp.path()).size(), QChar('d'));
    Type(Edit("edit1032"), stem + QStringLiteral("ええ"));
    EXPECT_EQ(Edit("edit1032")->text(), stem + QStringLiteral("え"));  // 126 bytes
    fs::create_directory((stem + QStringLiteral("え")).toStdString());
    SelectTab(0);
    EXPECT_EQ(Q(dlg.values().moveTo), stem + QStringLiteral("え"));
    EXPECT_TRUE(prompts.questions.isEmpty());
}

TEST_F(EditorTest, ChoosersUseTheirTitlesAndFiltersAndKeepWhatWasTyped) {
    Open();
    Type(Edit("edit1014"), QStringLiteral("typed"));
    Edit("edit1000")->setText(QStringLiteral("/start/here"));
    prompts.chosen = Q(tmp.path());
    Click("button1009");
    EXPECT_EQ(Edit("edit1000")->text(), Q(tmp.path()));
    prompts.chosen = QStringLiteral("/usr/bin/env");
    Click("button1020");
    EXPECT_EQ(Edit("edit1004")->text(), QStringLiteral("/usr/bin/env"));
    EXPECT_EQ(Edit("edit1014")->text(), QStringLiteral("typed"));
    EXPECT_TRUE(Enabled("check1002"));

    SelectTab(1);
    Click("check1028");
    Click("radio1007");
    Click("check1027");  // stays as the user left it
    test::WriteBytes(tmp / "a.wav", "");
    prompts.chosen = Q(tmp / "a.wav");
    Click("button1005");
    EXPECT_TRUE(Checked("check1027"));
    EXPECT_EQ(WaveEdit()->text(), Q(tmp / "a.wav"));
    SelectTab(2);
    Click("radio1037");
    Edit("edit1032")->setText(QStringLiteral("/old"));
    Click("button1038");  // cancelled: nothing changes
    EXPECT_EQ(Edit("edit1032")->text(), QStringLiteral("/old"));
    EXPECT_EQ(prompts.choosers,
              (QStringList{QStringLiteral("フォルダーを選択してください|/start/here"),
                           QStringLiteral("プログラムファイル指定|プログラムファイル (*);"
                                          "全てのファイル (*)"),
                           QStringLiteral("プログラムファイル指定|プログラムファイル (*.WAV "
                                          "*.wav);全てのファイル (*)"),
                           QStringLiteral("フォルダーを選択してください|/old")}));
}

// The names the dialog lists in `folder`, once its model has loaded them.
QStringList ListedNames(QFileDialog& dialog, const fs::path& folder) {
    QAbstractProxyModel* model = dialog.proxyModel();
    auto* files = qobject_cast<QFileSystemModel*>(model->sourceModel());
    const QModelIndex dir = model->mapFromSource(files->index(Q(folder)));
    QStringList names;
    for (int row = 0; row < model->rowCount(dir); ++row) {
        names << model->index(row, 0, dir).data().toString();
    }
    names.sort();
    return names;
}

TEST_F(EditorTest, ProgramChooserListsExecutablesUnderItsProgramFilter) {
    fs::create_directory(tmp / "bin");
    test::WriteBytes(tmp / "notes.txt", "x");
    test::WriteBytes(tmp / "run.sh", "#!/bin/sh\n");
    fs::permissions(tmp / "run.sh", fs::perms::owner_exec, fs::perm_options::add);

    QFileDialog dialog(nullptr, QStringLiteral("プログラムファイル指定"), Q(tmp.path()));
    SetUpProgramFileDialog(
        dialog, {QStringLiteral("プログラムファイル (*)"), QStringLiteral("全てのファイル (*)")});
    dialog.show();
    const QStringList programs{QStringLiteral("bin"), QStringLiteral("run.sh")};
    const QStringList everything{QStringLiteral("bin"), QStringLiteral("notes.txt"),
                                 QStringLiteral("run.sh")};
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListedNames(dialog, tmp.path()) == programs; }))
        << ListedNames(dialog, tmp.path()).join(' ').toStdString();

    // The user picks the other filter in the dialog's combo box, and back.
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_TRUE(combo);
    for (const auto& [key, expected] :
         {std::pair{Qt::Key_Down, everything}, std::pair{Qt::Key_Up, programs}}) {
        QTest::keyClick(combo, key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ListedNames(dialog, tmp.path()) == expected; }))
            << combo->currentText().toStdString() << ": "
            << ListedNames(dialog, tmp.path()).join(' ').toStdString();
    }
}

TEST_F(EditorTest, ChosenPathsOverTheLimitOrWithoutCp932FormAreRefusedOnRead) {
    Open();
    const QString longPath = QStringLiteral("/") + QString(130, QChar('p'));
    Edit("edit1014")->setText(QStringLiteral("t"));
    prompts.chosen = longPath;
    Click("button1009");
    EXPECT_EQ(Edit("edit1000")->text(), longPath);  // shown whole
    Click("button1");
    EXPECT_EQ(prompts.notices, QStringList{Q(rules::TooLongText(126))});
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1000"));

    Edit("edit1000")->setText(Q(tmp.path()));
    SelectTab(2);
    Click("radio1037");
    prompts.chosen = QStringLiteral("/한국");
    Click("button1038");
    Click("button1");
    EXPECT_EQ(prompts.notices.last(), Q(rules::NoCp932FormText()));
    EXPECT_FALSE(Accepted());

    // Paths the pages cannot store whole keep their page, like the editor's
    // own: cut short they would name another file or folder.
    prompts.chosen = longPath;
    Click("button1038");
    prompts.notices.clear();
    SelectTab(1);
    EXPECT_EQ(prompts.notices, QStringList{Q(rules::TooLongText(126))});
    EXPECT_EQ(Tab(), 2);
    EXPECT_EQ(dlg.focusWidget(), Edit("edit1032"));
    EXPECT_TRUE(prompts.questions.isEmpty()) << "nothing is created under a cut name";

    Edit("edit1032")->setText(Q(tmp.path()));
    SelectTab(1);
    Click("check1028");
    Click("radio1007");
    prompts.chosen = longPath;
    Click("button1005");
    EXPECT_EQ(WaveEdit()->text(), longPath);  // shown whole
    Click("button1");
    EXPECT_EQ(prompts.notices.last(), Q(rules::TooLongText(126)));
    EXPECT_FALSE(Accepted());
    EXPECT_EQ(dlg.focusWidget(), WaveEdit());
    test::WriteBytes(tmp / "a.wav", "");
    WaveEdit()->setText(Q(tmp / "a.wav"));
    Click("button1");
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(Q(dlg.values().waveFile), Q(tmp / "a.wav"));
}

// A settings file's fields hold a byte more than the edits take: 127 in a
// path, 41 in the pattern. While such a text's control is disabled it is
// not in use, so it neither keeps its page nor stops OK, and comes back
// whole.
TEST_F(EditorTest, DisabledTextsOverTheirLimitsAreNotChecked) {
    const std::string path = "/" + std::string(126, 'x');
    struct Case {
        const char* name;
        std::string rules::EntryValues::*text;
        std::string value;
        int rules::EntryValues::*option;  // set to `off`, it disables the text's control
        int off;
        int tab;  // the page that shows the text
    };
    for (const Case& c : {Case{"destination, nothing", &rules::EntryValues::moveTo, path,
                               &rules::EntryValues::afterMode, 0, 2},
                          Case{"WAV, beep", &rules::EntryValues::waveFile, path,
                               &rules::EntryValues::soundMode, 1, 1},
                          Case{"WAV, no sound", &rules::EntryValues::waveFile, path,
                               &rules::EntryValues::soundMode, 0, 1},
                          Case{"pattern, all files", &rules::EntryValues::pattern,
                               std::string(41, 'p'), &rules::EntryValues::fileMode, 0, 0},
                          Case{"program, open", &rules::EntryValues::program, path,
                               &rules::EntryValues::openFile, 1, 0}}) {
        SCOPED_TRACE(c.name);
        CSetEnvDlg editor;
        editor.rules().editMode = 1;
        editor.values().title = "t";
        editor.values().folder = tmp.path().string();
        editor.values().*c.text = c.value;
        editor.values().*c.option = c.off;
        editor.show();
        auto* tab = editor.findChild<QTabWidget*>();
        tab->setCurrentIndex(c.tab);
        tab->setCurrentIndex((c.tab + 1) % 3);
        EXPECT_EQ(editor.rules().currentPage(), (c.tab + 1) % 3);
        editor.findChild<QPushButton*>("button1")->click();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        EXPECT_EQ(editor.values().*c.text, c.value);
        EXPECT_TRUE(prompts.notices.isEmpty()) << prompts.notices.join('|').toStdString();
        prompts.notices.clear();
    }
}

TEST_F(EditorTest, EnterAndEscapeDoNothingInsideAPage) {
    Open();
    for (const char* name : {"edit1026", "radio1024"}) {
        QTest::keyClick(Get(name), Qt::Key_Return);
        QTest::keyClick(Get(name), Qt::Key_Escape);
    }
    SelectTab(1);
    Click("check1028");
    Click("radio1007");
    QTest::keyClick(Get("button1005"), Qt::Key_Return);
    QTest::keyClick(WaveEdit(), Qt::Key_Enter);
    test::WriteBytes(tmp / "a.wav", "");  // a WAV file that is not there is refused
    WaveEdit()->setText(Q(tmp / "a.wav"));
    SelectTab(2);
    Click("radio1037");
    Edit("edit1032")->setText(Q(tmp.path()));
    QTest::keyClick(Get("edit1032"), Qt::Key_Return);
    QTest::keyClick(Get("edit1032"), Qt::Key_Escape);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(prompts.notices.isEmpty() && prompts.choosers.isEmpty());

    // In the editor's own controls Enter confirms and Escape cancels.
    QTest::keyClick(Get("edit1014"), Qt::Key_Return);
    EXPECT_EQ(prompts.notices, QStringList{kNoTitle});
    QTest::keyClick(Get("edit1014"), Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace tavren::ui
