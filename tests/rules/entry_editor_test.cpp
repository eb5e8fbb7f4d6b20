#include "ui/rules/entry_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/path_text.h"
#include "rules/scripted_prompts.h"
#include "support/temp_dir.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::rules {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string U8(const fs::path& path) {
    return platform::PathToUtf8(path);
}

class EntryEditorTest : public ::testing::Test {
protected:
    // A change of an entry with title and folder filled in.
    void StartChange() {
        editor.editMode = 1;
        editor.values.title = "t";
        editor.values.folder = U8(tmp.path());
        editor.Start();
    }

    test::TempDir tmp;
    test::ScriptedPrompts prompts;
    EntryEditor editor{prompts};
};

TEST_F(EntryEditorTest, NewEntryStartsFromTheDefaults) {
    editor.Start();
    EXPECT_EQ(editor.Caption(), text::kEditorCaptionNew);
    EXPECT_EQ(editor.currentPage(), 0);
    ASSERT_TRUE(editor.filePage() && !editor.noticePage() && !editor.afterPage());
    EXPECT_EQ(editor.filePage()->fileMode, 0);
    EXPECT_EQ(editor.filePage()->timing, 1);
    EXPECT_FALSE(editor.filePage()->pattern.enabled);
    EXPECT_FALSE(editor.controls.waitEnabled);  // no program yet
    EXPECT_TRUE(editor.controls.program.enabled);

    editor.controls.title.text = "t";
    editor.controls.folder.text = U8(tmp.path());
    ASSERT_TRUE(editor.Ok().ok);
    EntryValues expected;
    expected.title = "t";
    expected.folder = U8(tmp.path());
    EXPECT_EQ(editor.values, expected);
    EXPECT_TRUE(prompts.notices.empty() && prompts.questions.empty());
}

// Each page is handed its values encoded, and decodes them again when it
// is left; pages never shown return the values as handed in.
TEST_F(EntryEditorTest, PagesEncodeAndDecodeTheirValues) {
    struct Case {
        int messageMode, soundMode;
        int showMessage, playSound, soundKind;
        bool waveEnabled;
        int messageBack, soundBack;
    };
    for (const Case c : {Case{0, 0, 0, 0, 0, false, 0, 0}, Case{2, 1, 1, 1, 0, false, 1, 1},
                         Case{1, 2, 1, 1, 1, true, 1, 2}, Case{0, 7, 0, 1, 0, false, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.messageMode) + "/" + std::to_string(c.soundMode));
        test::ScriptedPrompts p;
        EntryEditor e{p};
        test::WriteBytes(tmp / "a.wav", "");  // a WAV file that is not there is refused
        e.values.waveFile = U8(tmp / "a.wav");
        e.values.messageMode = c.messageMode;
        e.values.soundMode = c.soundMode;
        e.Start();
        ASSERT_TRUE(e.SwitchTo(1).ok);
        const NoticePage& page = *e.noticePage();
        EXPECT_EQ(page.showMessage, c.showMessage);
        EXPECT_EQ(page.playSound, c.playSound);
        EXPECT_EQ(page.soundKind, c.soundKind);
        EXPECT_EQ(page.kindsEnabled, c.playSound != 0);
        EXPECT_EQ(page.waveFile.enabled, c.waveEnabled);
        ASSERT_TRUE(e.SwitchTo(0).ok);
        EXPECT_EQ(e.values.messageMode, c.messageBack);
        EXPECT_EQ(e.values.soundMode, c.soundBack);
    }

    // Never shown: no check, no decoding, even a destination that is gone.
    editor.values.messageMode = 2;
    editor.values.afterMode = 2;
    editor.values.moveTo = U8(tmp / "gone");
    editor.values.overwrite = 3;
    StartChange();
    ASSERT_TRUE(editor.Ok().ok);
    EXPECT_EQ(editor.values.messageMode, 2);
    EXPECT_EQ(editor.values.overwrite, 3);
    EXPECT_EQ(editor.values.moveTo, U8(tmp / "gone"));
    EXPECT_TRUE(prompts.questions.empty());
}

TEST_F(EntryEditorTest, HiddenDeleteModeAndTheOverwriteCheckSurviveUntilChanged) {
    editor.values.afterMode = 1;
    editor.values.overwrite = 7;
    StartChange();
    ASSERT_TRUE(editor.SwitchTo(2).ok);
    EXPECT_EQ(editor.afterPage()->overwrite, 1);
    EXPECT_FALSE(editor.afterPage()->moveTo.enabled);
    ASSERT_TRUE(editor.SwitchTo(0).ok);
    EXPECT_EQ(editor.values.afterMode, 1);
    EXPECT_EQ(editor.values.overwrite, 1);  // read while disabled

    ASSERT_TRUE(editor.SwitchTo(2).ok);
    editor.afterPage()->SetAfterMode(2);
    EXPECT_TRUE(editor.afterPage()->moveTo.enabled);
    editor.afterPage()->SetAfterMode(0);
    editor.afterPage()->overwrite = 0;
    ASSERT_TRUE(editor.SwitchTo(1).ok);
    EXPECT_EQ(editor.values.afterMode, 0);
    EXPECT_EQ(editor.values.overwrite, 0);
}

TEST_F(EntryEditorTest, SoundRuleKeepsTheChosenKind) {
    editor.values.soundMode = 2;
    StartChange();
    ASSERT_TRUE(editor.SwitchTo(1).ok);
    NoticePage& page = *editor.noticePage();
    page.playSound = 0;
    ASSERT_TRUE(editor.SoundClicked().ok);
    EXPECT_FALSE(page.kindsEnabled || page.waveFile.enabled);
    EXPECT_EQ(page.soundKind, 1);
    page.playSound = 1;
    ASSERT_TRUE(editor.SoundClicked().ok);
    EXPECT_TRUE(page.kindsEnabled && page.waveFile.enabled);
    page.SetSoundKind(0);
    EXPECT_FALSE(page.waveFile.enabled);
    page.SetSoundKind(1);
    page.playSound = 0;
    editor.SoundClicked();
    ASSERT_TRUE(editor.Ok().ok);
    EXPECT_EQ(editor.values.soundMode, 0);
}

TEST_F(EntryEditorTest, ProgramOptionsEnableAsTheirRulesSay) {
    editor.Start();
    editor.controls.program.text = "a";
    editor.ProgramChanged();
    EXPECT_TRUE(editor.controls.waitEnabled);
    editor.controls.program.text.clear();
    editor.ProgramChanged();
    EXPECT_TRUE(editor.controls.waitEnabled);  // emptying does not disable it

    editor.controls.program.text = "/bin/ls";
    editor.controls.waitExit = 1;
    editor.controls.openFile = 1;
    ASSERT_TRUE(editor.OpenFileClicked().ok);
    EXPECT_FALSE(editor.controls.program.enabled || editor.controls.waitEnabled);
    EXPECT_EQ(editor.controls.program.text, "/bin/ls");  // values kept
    EXPECT_EQ(editor.controls.waitExit, 1);
    editor.controls.program.text.clear();
    editor.controls.openFile = 0;
    ASSERT_TRUE(editor.OpenFileClicked().ok);
    EXPECT_TRUE(editor.controls.program.enabled && editor.controls.waitEnabled);

    test::ScriptedPrompts p;
    EntryEditor opened{p};
    opened.values.openFile = 1;
    opened.values.program = "/bin/ls";
    opened.Start();
    EXPECT_FALSE(opened.controls.program.enabled || opened.controls.waitEnabled);
}

// The checks come in order: the shown page's, the title's, the folder's;
// each failure names the field that takes the focus.
TEST_F(EntryEditorTest, ChecksComeInOrderAndNameTheirField) {
    editor.Start();
    editor.filePage()->SetFileMode(1);
    Outcome o = editor.SwitchTo(2);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.focus, Field::Pattern);
    EXPECT_EQ(editor.currentPage(), 0);
    EXPECT_TRUE(editor.filePage() && !editor.afterPage());
    EXPECT_EQ(editor.SwitchTo(0).ok, true);  // the tab already shown: nothing to do

    const struct Step {
        const char* what;
        std::string pattern, title, folder;
        std::string_view message;
        Field focus;
    } steps[] = {
        {"pattern", "", "", "", text::kNoPattern, Field::Pattern},
        {"title", "*.txt", "", "", text::kNoTitle, Field::Title},
        {"folder", "*.txt", "t", "", text::kNoFolder, Field::Folder},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        editor.filePage()->pattern.text = s.pattern;
        editor.controls.title.text = s.title;
        editor.controls.folder.text = s.folder;
        prompts.notices.clear();
        o = editor.Ok();
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.focus, s.focus);
        EXPECT_EQ(prompts.notices, Strings{std::string(s.message)});
    }

    // All files keeps the typed pattern, and no longer checks it.
    editor.filePage()->pattern.text = "*.log";
    editor.filePage()->SetFileMode(0);
    ASSERT_TRUE(editor.SwitchTo(1).ok);
    EXPECT_EQ(editor.values.fileMode, 0);
    EXPECT_EQ(editor.values.pattern, "*.log");
}

// A missing watched folder or destination is created, one level only, when
// the user says Yes; what was created stays when a later check fails.
TEST_F(EntryEditorTest, MissingFoldersAreCreatedOnYes) {
    const fs::path target = tmp / "new";
    editor.Start();
    editor.controls.title.text = "t";
    editor.controls.folder.text = U8(target);
    prompts.answers = {false};
    Outcome o = editor.Ok();
    EXPECT_EQ(o.ok, false);
    EXPECT_EQ(o.focus, Field::Folder);
    EXPECT_EQ(prompts.questions, Strings{std::string(text::kFolderMissing)});
    EXPECT_FALSE(fs::exists(target));

    editor.controls.folder.text = U8(tmp / "no" / "parent");
    prompts.answers = {true};
    o = editor.Ok();
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.focus, Field::None);
    EXPECT_EQ(prompts.notices, Strings{std::string(text::kFolderNotCreated)});

    editor.controls.folder.text = U8(target);
    prompts.answers = {true};
    EXPECT_TRUE(editor.Ok().ok);
    EXPECT_TRUE(fs::is_directory(target));

    test::WriteBytes(tmp / "file", "x");  // a file is refused, unasked
    editor.controls.folder.text = U8(tmp / "file");
    o = editor.Ok();
    EXPECT_EQ(o.focus, Field::Folder);
    EXPECT_EQ(prompts.notices.back(), text::kFolderIsFile);
    EXPECT_EQ(prompts.questions.size(), 3u);

    // The destination, created at once although the title check then fails.
    test::ScriptedPrompts p;
    EntryEditor e{p};
    e.Start();
    ASSERT_TRUE(e.SwitchTo(2).ok);
    e.afterPage()->SetAfterMode(2);
    o = e.SwitchTo(0);
    EXPECT_EQ(o.focus, Field::MoveTo);
    EXPECT_EQ(p.notices, Strings{std::string(text::kNoMoveTo)});
    e.afterPage()->moveTo.text = U8(tmp / "dest");
    p.answers = {true};
    o = e.Ok();
    EXPECT_TRUE(fs::is_directory(tmp / "dest"));
    EXPECT_EQ(o.focus, Field::Title);
    EXPECT_EQ(p.questions, Strings{std::string(text::kMoveToMissing)});
    e.afterPage()->moveTo.text = U8(tmp / "no" / "parent");
    p.answers = {true};
    EXPECT_FALSE(e.SwitchTo(1).ok);
    EXPECT_EQ(p.notices.back(), text::kMoveToNotCreated);
    EXPECT_EQ(e.currentPage(), 2);
    e.afterPage()->moveTo.text = U8(tmp / "file");
    EXPECT_EQ(e.SwitchTo(1).focus, Field::MoveTo);
    EXPECT_EQ(p.notices.back(), text::kMoveToIsFile);
}

// Texts that cannot be stored whole are refused where they are read, while
// their control is enabled; a disabled one is not in use and comes back as
// it is (a settings file's fields hold a byte more than the edits take).
TEST_F(EntryEditorTest, TextsAreCheckedOnlyWhileEnabled) {
    const std::string longPath = "/" + std::string(126, 'x');
    StartChange();
    editor.controls.folder.text = longPath;
    Outcome o = editor.Ok();
    EXPECT_EQ(o.focus, Field::Folder);
    EXPECT_EQ(prompts.notices, Strings{TooLongText(126)});
    editor.controls.folder.text = "/한국";
    EXPECT_EQ(editor.SwitchTo(1).focus, Field::Folder);
    EXPECT_EQ(prompts.notices.back(), NoCp932FormText());
    editor.controls.folder.text = U8(tmp.path());

    ASSERT_TRUE(editor.SwitchTo(2).ok);
    editor.afterPage()->SetAfterMode(2);
    editor.afterPage()->moveTo.text = longPath;  // no question: never cut to another name
    EXPECT_EQ(editor.SwitchTo(0).focus, Field::MoveTo);
    editor.afterPage()->SetAfterMode(0);
    ASSERT_TRUE(editor.SwitchTo(0).ok);
    EXPECT_EQ(editor.values.moveTo, longPath);
    EXPECT_TRUE(prompts.questions.empty());

    struct Case {
        const char* name;
        std::string EntryValues::*text;
        std::string value;
        int EntryValues::*option;  // set to `off`, it disables the text's control
        int off;
        int tab;  // the page that shows the text
    };
    for (const Case& c :
         {Case{"WAV, beep", &EntryValues::waveFile, longPath, &EntryValues::soundMode, 1, 1},
          Case{"WAV, no sound", &EntryValues::waveFile, longPath, &EntryValues::soundMode, 0, 1},
          Case{"pattern, all files", &EntryValues::pattern, std::string(41, 'p'),
               &EntryValues::fileMode, 0, 0},
          Case{"program, open", &EntryValues::program, longPath, &EntryValues::openFile, 1, 0}}) {
        SCOPED_TRACE(c.name);
        test::ScriptedPrompts p;
        EntryEditor e{p};
        e.editMode = 1;
        e.values.title = "t";
        e.values.folder = U8(tmp.path());
        e.values.*c.text = c.value;
        e.values.*c.option = c.off;
        e.Start();
        ASSERT_TRUE(e.SwitchTo(c.tab).ok);
        ASSERT_TRUE(e.SwitchTo((c.tab + 1) % 3).ok);
        ASSERT_TRUE(e.Ok().ok);
        EXPECT_EQ(e.values.*c.text, c.value);
        EXPECT_TRUE(p.notices.empty());
    }
}

// Paths typed relative are stored whole, against the working folder when
// OK is pressed; of the program line only the program, when it names a file
// here. A folder, destination or WAV path with a blank at either end is
// refused with its own message; so is a WAV sound without a file.
TEST_F(EntryEditorTest, PathsAreStoredWhole) {
    const fs::path before = fs::current_path();
    fs::current_path(tmp.path());
    const std::string here = U8(fs::current_path());
    fs::create_directories(tmp / "in");
    for (const char* file : {"a.wav", "run.sh", "my tool"}) test::WriteBytes(tmp / file, "");
    const struct {
        std::string folder, moveTo, waveFile, program, stored;  // ~: the working folder
    } cases[] = {
        {"in", "./in/../in", "./a.wav", "run.sh -x in", "~/in|~/run.sh -x in|~/in|~/a.wav"},
        {"in/", "in", "a.wav", "\"my tool\"  \"in\" ", "~/in/|\"~/my tool\"  \"in\" |~/in|~/a.wav"},
        {"in", "in", "a.wav", "sh -c run.sh", "~/in|sh -c run.sh|~/in|~/a.wav"},
        {" in", "in", "a.wav", "", std::string(text::kFolderBlankEnds)},
        {"in\xE3\x80\x80", "in", "a.wav", "", std::string(text::kFolderBlankEnds)},
        {"in", "in\t", "a.wav", "", std::string(text::kMoveToBlankEnds)},
        {"in", "in", "a.wav ", "", std::string(text::kWaveBlankEnds)},
        {"in", "in", "", "", std::string(text::kNoWave)},
        {"in", "in", "in", "", std::string(text::kWaveMissing)},
    };
    for (const auto& c : cases) {
        test::ScriptedPrompts p;
        EntryEditor e{p};
        e.editMode = 1;
        e.values = {.title = "t",
                    .folder = c.folder,
                    .program = c.program,
                    .afterMode = store::after_mode::kMove,
                    .soundMode = store::sound_mode::kWave,
                    .pattern = {},
                    .moveTo = c.moveTo,
                    .waveFile = c.waveFile};
        e.Start();
        std::string got = e.SwitchTo(1).ok && e.SwitchTo(2).ok && e.Ok().ok
                              ? e.values.folder + '|' + e.values.program + '|' + e.values.moveTo +
                                    '|' + e.values.waveFile
                              : (p.notices.empty() ? "" : p.notices.back());
        // The working folder shown as "~" (built anew: an in-place replace
        // draws a false -Wrestrict from mingw's GCC).
        std::string shown;
        for (std::size_t from = 0;;) {
            const std::size_t at = got.find(here, from);
            shown.append(got, from, at == std::string::npos ? std::string::npos : at - from);
            if (at == std::string::npos) break;
            shown += '~';
            from = at + here.size();
        }
        got = shown;
        std::replace(got.begin(), got.end(), '\\', '/');  // Windows' separators
        EXPECT_EQ(got, c.stored) << c.folder << '|' << c.program;
    }
    fs::current_path(before);
}

// The choosers open on the current text; a choice replaces it, a cancel
// changes nothing, and texts typed elsewhere stay.
TEST_F(EntryEditorTest, ChoosersOpenOnTheTextAndKeepWhatWasTyped) {
    editor.Start();
    editor.controls.title.text = "typed";
    editor.controls.folder.text = "/start/here";
    prompts.chosen = U8(tmp.path());
    editor.ChooseFolder();
    EXPECT_EQ(editor.controls.folder.text, U8(tmp.path()));
    prompts.chosen = "/usr/bin/env";
    editor.ChooseProgram();
    EXPECT_EQ(editor.controls.program.text, "/usr/bin/env");
    EXPECT_TRUE(editor.controls.waitEnabled);
    EXPECT_EQ(editor.controls.title.text, "typed");

    ASSERT_TRUE(editor.SwitchTo(1).ok);
    prompts.chosen = "/snd/a.wav";
    editor.ChooseWave();
    EXPECT_EQ(editor.noticePage()->waveFile.text, "/snd/a.wav");
    ASSERT_TRUE(editor.SwitchTo(2).ok);
    editor.afterPage()->moveTo.text = "/old";
    editor.ChooseDestination();
    EXPECT_EQ(editor.afterPage()->moveTo.text, "/old");
    EXPECT_EQ(prompts.choosers,
              (Strings{std::string(text::kChooseFolder) + "|/start/here",
                       ProgramChoice().title + "|" + ProgramChoice().filters[0].patterns + "|" +
                           ProgramChoice().filters[1].patterns,
                       WaveChoice().title + "|" + WaveChoice().filters[0].patterns + "|" +
                           WaveChoice().filters[1].patterns,
                       std::string(text::kChooseFolder) + "|/old"}));
    EXPECT_TRUE(ProgramChoice().programsFirst && !WaveChoice().programsFirst);
}

TEST(FieldLimitsTest, LimitsCountCp932Bytes) {
    const struct {
        Field field;
        std::string text;
        TextCheck expected;
    } cases[] = {
        {Field::Title, std::string(52, 'a') + "\xE3\x81\x82\xE3\x81\x82", TextCheck::Fits},  // 56
        {Field::Title, std::string(55, 'a') + "\xE3\x81\x82", TextCheck::TooLong},           // 57
        {Field::Title, "\xE3\x80\x9C", TextCheck::Fits},           // U+301C, a look-alike: fine
        {Field::Folder, "/\xE3\x80\x9C", TextCheck::NoCp932Form},  // but would name another file
        {Field::Pattern, std::string(40, 'p'), TextCheck::Fits},
        {Field::Pattern, std::string(41, 'p'), TextCheck::TooLong},
        {Field::MoveTo, std::string(126, 'm'), TextCheck::Fits},
        {Field::MoveTo, std::string(127, 'm'), TextCheck::TooLong},
        {Field::Program, "\xED\x95\x9C", TextCheck::NoCp932Form},  // Hangul
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckText(c.text, LimitOf(c.field)), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace tavren::rules
