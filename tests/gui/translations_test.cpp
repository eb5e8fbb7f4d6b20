#include "app/translations.h"

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
#include "ui/prompts.h"

namespace tavren::app {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

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

// Each of the program's choosers, as the dialogs open it: Japanese, and no
// header, column or place cut short.
TEST_F(TranslationsTest, ChoosersShowTheirJapaneseHeadersAndTextsWhole) {
    fs::create_directory(tmp / "フォルダ");
    test::WriteBytes(tmp / "報告書.txt", "x");
    test::WriteBytes(tmp / "big.wav", std::string(3'000'000, '\0'));
    const QString start = Q(tmp.path());
    const QStringList filters{QStringLiteral("プログラムファイル (*)"),
                              QStringLiteral("全てのファイル (*)")};
    const std::pair<const char*, std::function<void()>> kChoosers[] = {
        {"folder", [&] { ui::ChooseFolder(nullptr, QStringLiteral("フォルダーを選択してください"), start); }},
        {"file", [&] { ui::ChooseFile(nullptr, QStringLiteral("プログラムファイル指定"), filters, start); }},
        {"program", [&] { ui::ChooseProgramFile(nullptr, QStringLiteral("プログラムファイル指定"), filters, start); }},
    };
    for (const auto& [which, open] : kChoosers) {
        SCOPED_TRACE(which);
        bool looked = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) dialog = QApplication::topLevelWidgets().value(0)->findChild<QFileDialog*>();
            ASSERT_TRUE(dialog);
            looked = true;
            auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            auto* files = dialog->findChild<QFileSystemModel*>();
            ASSERT_TRUE(view && files);
            QHeaderView* header = view->header();
            // Once the folder's rows are in and the dialog has fitted them.
            QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; });
            QTest::qWait(50);
            EXPECT_EQ(files->headerData(0, Qt::Horizontal).toString().toStdString(), "名前");
            const QModelIndex folder = files->index(Q(tmp / "フォルダ"));
            EXPECT_EQ(folder.siblingAtColumn(2).data().toString().toStdString(), "フォルダ");
            for (int i = 0; i < header->count(); ++i) {
                if (header->isSectionHidden(i)) continue;
                EXPECT_GE(header->sectionSize(i), header->sectionSizeHint(i))
                    << "header " << files->headerData(i, Qt::Horizontal).toString().toStdString();
                if (i > 0) {
                    EXPECT_GE(header->sectionSize(i), static_cast<QAbstractItemView*>(view)->sizeHintForColumn(i))
                        << "texts of " << files->headerData(i, Qt::Horizontal).toString().toStdString();
                }
            }
            auto* places = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
            auto* splitter = dialog->findChild<QSplitter*>(QStringLiteral("splitter"));
            ASSERT_TRUE(places && splitter);
            EXPECT_GE(splitter->sizes().value(0), places->sizeHintForColumn(0)) << "places";
            dialog->reject();
        });
        open();
        EXPECT_TRUE(looked);
    }
}

}  // namespace
}  // namespace tavren::app
