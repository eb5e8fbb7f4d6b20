#include "app/qt/translations.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>

#include "gui/gui_support.h"
#include "support/temp_dir.h"
#include "ui/qt/prompts.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& p) {
    return QString::fromStdString(p.string());
}

class TranslationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        // No widths kept by an earlier run of the dialog.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Q(tmp / "config"));
        ASSERT_TRUE(LoadQtTranslations()) << "is qt6-translations-l10n installed?";
    }

    test::TempDir tmp;
};

TEST_F(TranslationsTest, QuestionButtonsSpeakJapanese) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tavren3"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), "はい(&Y)");
    EXPECT_EQ(box.button(QMessageBox::No)->text().toStdString(), "いいえ(&N)");
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().toStdString(), "キャンセル");
}

// Word wrap breaks Japanese anywhere: a question's closing choice opens a line.
TEST_F(TranslationsTest, AQuestionKeepsItsChoiceTogether) {
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        shown = box ? box->text() : QString();
        if (box) box->reject();
    });
    ui::AskYesNo(nullptr,
                 QStringLiteral("削除してよろしいですか？「はい／いいえ」を選んでください。"));
    EXPECT_EQ(shown.toStdString(), "削除してよろしいですか？\n「はい／いいえ」を選んでください。");
}

// The chooser the program has open, if any.
QFileDialog* OpenChooser() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

// What `dialog` shows cut short: headers, the texts of its columns (the
// name's may well be), its list of places. Empty when nothing is.
std::string CutShort(const QFileDialog& dialog) {
    const auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    const auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
    const auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
    if (!view || !places || !splitter) return "no detail view or places";
    const QAbstractItemView* cells = view;
    const QHeaderView* header = view->header();
    std::string cut;
    for (int i = 0; i < header->count(); ++i) {
        const std::string name =
            view->model()->headerData(i, Qt::Horizontal).toString().toStdString();
        if (header->sectionSize(i) < header->sectionSizeHint(i)) cut += "header " + name + "; ";
        if (i > 0 && header->sectionSize(i) < cells->sizeHintForColumn(i)) {
            cut += "texts of " + name + "; ";
        }
    }
    if (splitter->sizes().value(0) < places->sizeHintForColumn(0)) cut += "places";
    return cut;
}

// Each of the program's choosers, as the dialogs open it: Japanese, and
// nothing cut short.
TEST_F(TranslationsTest, ChoosersShowTheirJapaneseHeadersAndTextsWhole) {
    fs::create_directory(tmp / "フォルダ");
    test::WriteBytes(tmp / "報告書.txt", "x");
    const QString start = Q(tmp.path());
    const QStringList filters{QStringLiteral("プログラムファイル (*)"),
                              QStringLiteral("全てのファイル (*)")};
    const QString title = QStringLiteral("プログラムファイル指定");
    const std::pair<const char*, std::function<void()>> kChoosers[] = {
        {"folder", [&] { ui::ChooseFolder(nullptr, title, start); }},
        {"file", [&] { ui::ChooseFile(nullptr, title, filters, start); }},
        {"program", [&] { ui::ChooseProgramFile(nullptr, title, filters, start); }},
    };
    for (const auto& [which, open] : kChoosers) {
        SCOPED_TRACE(which);
        std::string nameHeader, folderKind, cut = "never shown";
        QTimer::singleShot(0, [&] {
            QFileDialog* dialog = OpenChooser();
            if (!dialog) return;
            const auto* files = dialog->findChild<QFileSystemModel*>();
            const auto kind = [&] {
                return files->index(Q(tmp / "フォルダ")).siblingAtColumn(2).data().toString();
            };
            // The rows come from another thread; the dialog fits them then.
            // Checked below, with what was cut short if the wait ran out.
            (void)QTest::qWaitFor([&] { return !kind().isEmpty() && CutShort(*dialog).empty(); });
            nameHeader = files->headerData(0, Qt::Horizontal).toString().toStdString();
            folderKind = kind().toStdString();
            cut = CutShort(*dialog);
            dialog->reject();
        });
        open();
        EXPECT_EQ(nameHeader, "名前");
        EXPECT_EQ(folderKind, "フォルダ");
        EXPECT_EQ(cut, "");
    }
}

}  // namespace
}  // namespace tavren::app
