#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/qt/about_dlg.h"
#include "app/qt/gui_message_sink.h"
#include "app/qt/main_frame.h"
#include "app/qt/modality.h"
#include "app/qt/single_instance.h"
#include "gui/gui_support.h"
#include "platform/wake_event.h"

namespace tavren::app {
namespace {

// Processes events until `done` holds or the deadline passes.
template <typename F>
bool SpinUntil(F done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QMessageBox* OpenEngineBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("engineMessage") && w->isVisible()) {
            return qobject_cast<QMessageBox*>(w);
        }
    }
    return nullptr;
}

int VisibleEngineBoxes() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("engineMessage") && w->isVisible()) ++n;
    }
    return n;
}

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApp(); }
};

TEST_F(TrayTest, MenuHasItsItemsInOrderWithShortcutLetters) {
    CMainFrame frame({});
    std::vector<std::pair<QString, QString>> items;
    for (QAction* a : frame.menu()->actions()) {
        items.emplace_back(a->isSeparator() ? QStringLiteral("-") : a->objectName(),
                           a->isSeparator() ? QString() : a->text());
    }
    const std::vector<std::pair<QString, QString>> expected = {
        {"action32771", "開始(&S)"},
        {"action32772", "停止(&T)"},
        {"-", ""},
        {"action32773", "監視設定(&U)..."},
        {"action32775", "履歴(&L)..."},
        {"-", ""},
        {"action57667", "トピックスの検索(&H)"},
        {"action57664", "バージョン情報(&A)..."},
        {"-", ""},
        {"action32774", "終了(&X)"},
    };
    EXPECT_EQ(items, expected);
    EXPECT_EQ(frame.trayIcon()->toolTip(), QStringLiteral("フォルダ監視"));
    EXPECT_EQ(frame.trayIcon()->contextMenu(), frame.menu());
}

TEST_F(TrayTest, StartAndStopFollowTheEngineEachTimeTheMenuOpens) {
    bool running = true;
    TrayCommands commands;
    commands.watchRunning = [&] { return running; };
    CMainFrame frame(commands);
    auto* start = frame.menu()->findChild<QAction*>("action32771");
    auto* stop = frame.menu()->findChild<QAction*>("action32772");
    ASSERT_TRUE(start && stop);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());

    running = false;
    emit frame.menu()->aboutToShow();
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());

    // While the watch settings are open, neither.
    bool settingsOpen = true;
    commands.settingsOpen = [&] { return settingsOpen; };
    CMainFrame held(commands);
    auto* heldStart = held.menu()->findChild<QAction*>("action32771");
    emit held.menu()->aboutToShow();
    EXPECT_FALSE(heldStart->isEnabled());
    EXPECT_FALSE(held.menu()->findChild<QAction*>("action32772")->isEnabled());
    for (QAction* a : frame.menu()->actions()) {
        if (a != start && a != stop) {
            EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
        }
    }
}

TEST_F(TrayTest, EveryCommandReachesItsHandlerAfterTheMenuCloses) {
    std::vector<std::string> calls;
    TrayCommands c;
    c.start = [&] { calls.push_back("start"); };
    c.stop = [&] { calls.push_back("stop"); };
    c.watchSettings = [&] { calls.push_back("settings"); };
    c.history = [&] { calls.push_back("history"); };
    c.helpTopics = [&] { calls.push_back("help"); };
    c.about = [&] { calls.push_back("about"); };
    c.quit = [&] { calls.push_back("quit"); };
    bool running = false;
    c.watchRunning = [&] { return running; };
    CMainFrame frame(c);
    auto trigger = [&](int id) {
        frame.menu()->findChild<QAction*>(QStringLiteral("action%1").arg(id))->trigger();
    };
    trigger(32772);  // Stop is disabled while nothing runs
    trigger(32771);
    running = true;
    frame.UpdateMenu();
    trigger(32771);  // and Start while watching runs
    for (int id : {32772, 32773, 32775, 57667, 57664, 32774}) trigger(id);
    EXPECT_TRUE(calls.empty());  // queued: nothing runs inside the menu's own loop
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop", "settings", "history", "help",
                                               "about", "quit"}));
}

TEST_F(TrayTest, TipNamesEntriesWaitingForTheirFolderAndFollowsTheirChanges) {
    using engine::WatchMode;
    std::vector<engine::WatchStatus> statuses = {
        {0, "scans", "/mnt/nas/scans", WatchMode::Polled, "nfs"},
        {1, "usb", "/media/u/STICK", WatchMode::Waiting, "マウントが外れました"},
        {2, "inbox", "/home/u/in", WatchMode::Notified, ""},
    };
    bool running = true;
    TrayCommands c;
    c.watchRunning = [&] { return running; };
    c.statuses = [&] { return statuses; };
    CMainFrame frame(c);
    EXPECT_EQ(frame.trayIcon()->toolTip(),
              QStringLiteral("フォルダ監視\n2 / 3 件を監視中\n一定間隔で監視: scans\n"
                             "フォルダ待ち: usb (マウントが外れました)"));

    // A worker's report reaches the tip through the sink, box-free.
    GuiMessageSink sink;
    QObject::connect(&sink, &GuiMessageSink::statusChanged, &frame, &CMainFrame::UpdateStatus);
    statuses[1].mode = WatchMode::Notified;
    std::thread([&] { sink.StatusChanged(statuses[1]); }).join();
    EXPECT_TRUE(SpinUntil([&] {
        return frame.trayIcon()->toolTip() ==
               QStringLiteral("フォルダ監視\n3 / 3 件を監視中\n一定間隔で監視: scans");
    }));
    EXPECT_EQ(VisibleEngineBoxes(), 0);

    // The icon itself tells running from stopped.
    const QImage shownRunning = frame.trayIcon()->icon().pixmap(32).toImage();
    running = false;
    frame.UpdateStatus();
    EXPECT_EQ(frame.trayIcon()->toolTip(), QStringLiteral("フォルダ監視\n停止中"));
    EXPECT_NE(frame.trayIcon()->icon().pixmap(32).toImage(), shownRunning);
    statuses.assign(8, {0, "gone", "/x", WatchMode::Waiting, "フォルダがありません"});
    running = true;
    frame.UpdateStatus();
    EXPECT_TRUE(frame.trayIcon()->toolTip().endsWith(QStringLiteral("\nほか 3 件")));
}

// Records whether a window is shut out by a modal one.
class BlockedFlag final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WindowBlocked) blocked = true;
        if (e->type() == QEvent::WindowUnblocked) blocked = false;
        return false;
    }
    bool blocked = false;
};

TEST_F(TrayTest, BoxesAndDialogsShutOutTheirParentAtMostNeverTheIcon) {
    ParentModality keeper;
    qApp->installEventFilter(&keeper);
    QWidget icon;  // stands in for the icon's own window
    BlockedFlag iconFlag, listFlag;
    icon.installEventFilter(&iconFlag);
    icon.show();
    QDialog list;
    list.installEventFilter(&listFlag);

    bool checked = false;
    // A box of the program's own, then a question over the list dialog,
    // each waited for with exec() as the program does.
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            QMessageBox question(QMessageBox::Question, "Tavren3", "?",
                                 QMessageBox::Yes | QMessageBox::No, &list);
            QTimer::singleShot(0, [&] {
                EXPECT_TRUE(listFlag.blocked);  // the question holds its dialog
                EXPECT_FALSE(iconFlag.blocked);
                checked = true;
                question.reject();
            });
            question.exec();
            QMessageBox box(QMessageBox::Warning, "Tavren3", "a.txt", QMessageBox::Ok);
            QTimer::singleShot(0, [&] {
                EXPECT_FALSE(iconFlag.blocked);
                EXPECT_FALSE(listFlag.blocked);
                box.accept();
            });
            box.exec();
            list.reject();
        });
        list.exec();
    });
    EXPECT_TRUE(SpinUntil([&] { return checked && !list.isVisible(); }));
    qApp->removeEventFilter(&keeper);
}

TEST_F(TrayTest, VersionBoxShowsTheVersionAndClosesWithOkEnterOrEscape) {
    {
        CAboutDlg box;
        EXPECT_EQ(box.windowTitle(), QStringLiteral("Tavren バージョン情報"));
        auto* text = box.findChild<QLabel*>("versionText");
        ASSERT_TRUE(text);
        EXPECT_EQ(text->text(), QStringLiteral("フォルダ監視 Tavren Version 3.02.4.25"));
        EXPECT_GE(text->width(), text->sizeHint().width());  // never cut short
        auto* ok = box.findChild<QPushButton*>("button1");
        ASSERT_TRUE(ok);
        EXPECT_TRUE(ok->isDefault());
        box.show();
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_EQ(box.result(), QDialog::Accepted);
    }
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        CAboutDlg box;
        box.show();
        QSignalSpy finished(&box, &QDialog::finished);
        QTest::keyClick(&box, key);
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST_F(TrayTest, WorkerWaitsForOkOnItsMessageBox) {
    GuiMessageSink sink;
    platform::WakeEvent cancel;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        sink.ShowMessage("report.txtを実行します。", cancel);
        returned = true;
    });
    ASSERT_TRUE(SpinUntil([] { return OpenEngineBox() != nullptr; }));
    QMessageBox* box = OpenEngineBox();
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Tavren3"));
    EXPECT_EQ(box->text(), QStringLiteral("report.txtを実行します。"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_FALSE(returned);

    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(SpinUntil([&] { return returned.load(); }));
    worker.join();
}

TEST_F(TrayTest, BoxesOfSeveralEntriesStandSideBySide) {
    GuiMessageSink sink;
    platform::WakeEvent cancel;
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&, i] {
            sink.ShowMessage("entry " + std::to_string(i), cancel);
            ++returned;
        });
    }
    ASSERT_TRUE(SpinUntil([] { return VisibleEngineBoxes() == 3; }));
    // Closing the boxes in any order releases exactly their own workers.
    OpenEngineBox()->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(SpinUntil([&] { return returned == 1; }));
    EXPECT_EQ(VisibleEngineBoxes(), 2);
    sink.CloseAll();
    ASSERT_TRUE(SpinUntil([&] { return returned == 3; }));
    for (auto& w : workers) w.join();
}

TEST_F(TrayTest, ExitReleasesAWorkerWhoseBoxIsStillOpen) {
    GuiMessageSink sink;
    platform::WakeEvent cancel;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        sink.ShowMessage("still open", cancel);
        returned = true;
    });
    ASSERT_TRUE(SpinUntil([] { return OpenEngineBox() != nullptr; }));
    cancel.Set();   // what the engine's shutdown does
    worker.join();  // must not hang, with the box still on screen
    EXPECT_TRUE(returned);
    sink.CloseAll();
    SpinUntil([] { return VisibleEngineBoxes() == 0; });
}

TEST_F(TrayTest, SecondInstanceAsksTheFirstToComeForward) {
    const QString name = QStringLiteral("tavren-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    ASSERT_TRUE(first.Claim());
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    std::atomic<int> secondClaim{-1};
    std::thread other([&] {
        SingleInstance second(name);
        secondClaim = second.Claim() ? 1 : 0;
    });
    ASSERT_TRUE(SpinUntil([&] { return secondClaim != -1 && raised.count() > 0; }));
    other.join();
    EXPECT_EQ(secondClaim.load(), 0);
}

}  // namespace
}  // namespace tavren::app
