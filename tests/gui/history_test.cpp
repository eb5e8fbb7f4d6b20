#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "gui/gui_support.h"
#include "support/fakes.h"
#include "support/history_fixture.h"
#include "support/temp_dir.h"
#include "ui/qt/history_dlg.h"

namespace tavren::ui {
namespace {

QStringList Row(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->columnCount(); ++i) texts << item->text(i);
    return texts;
}

TEST(HistoryDlgTest, ShowsLinesAsTheyArriveNewestFirstFilteredByEntry) {
    test::EnsureApp();
    const test::TempDir temp;
    const store::DataFolder data(temp.path());
    ASSERT_TRUE(test::WriteHistoryFixture(temp, data));

    test::EventLog opened;
    test::FakeLauncher launcher(opened);
    CHistoryDlg dlg(data, launcher);
    dlg.show();
    auto* list = dlg.findChild<QTreeWidget*>("historyList");
    auto* filter = dlg.findChild<QComboBox*>("historyFilter");
    ASSERT_TRUE(list && filter);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(Row(list->topLevelItem(1)),
              (QStringList{"2026/12/08 14:03:05", "1 in", "新規", "a.txt", ""}));
    EXPECT_EQ(Row(list->topLevelItem(0)),
              (QStringList{"2026/12/08 14:03:06", "-", "設定の読み直し", "", ""}));

    // A line written while the window is open shows on top, with its entry
    // in the filter; an event word of a later version shows as it is.
    test::AppendLogLine(
        data, {"2026-12-08T14:03:07.000+09:00", 2, "scans", "moved", "b.pdf", "/out/b.pdf"});
    test::AppendLogLine(data, {"2026-12-08T14:03:08.000+09:00", 2, "scans", "blinked", "", ""});
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 4; }, 5000));
    EXPECT_EQ(Row(list->topLevelItem(1)),
              (QStringList{"2026/12/08 14:03:07", "2 scans", "移動", "b.pdf", "/out/b.pdf"}));
    EXPECT_EQ(list->topLevelItem(0)->text(2), "blinked");
    ASSERT_EQ(filter->count(), 3);  // すべて, 1 in, 2 scans
    EXPECT_EQ(filter->itemText(0), "すべて");

    filter->setCurrentIndex(1);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "1 in");
    // The line's entry folder opens through the launcher.
    list->setCurrentItem(list->topLevelItem(0));
    dlg.findChild<QPushButton*>("historyOpenFolder")->click();
    EXPECT_EQ(opened.Events(), std::vector<std::string>{"open:" + (temp / "in").string()});
}

}  // namespace
}  // namespace tavren::ui
