#include "app/qt/main_frame.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/qt/app_icon.h"
#include "app/status_tip.h"

namespace tavren::app {

CMainFrame::CMainFrame(TrayCommands commands, QObject* parent)
    : QObject(parent),
      commands_(std::move(commands)),
      menu_(std::make_unique<QMenu>(QStringLiteral("ポップアップ"))),
      tray_(std::make_unique<QSystemTrayIcon>(AppIcon())) {
    setObjectName(QStringLiteral("mainFrame"));
    menu_->setObjectName(QStringLiteral("menu131"));
    start_ = AddCommand(32771, QStringLiteral("開始(&S)"), commands_.start);
    stop_ = AddCommand(32772, QStringLiteral("停止(&T)"), commands_.stop);
    menu_->addSeparator();
    AddCommand(32773, QStringLiteral("監視設定(&U)..."), commands_.watchSettings);
    AddCommand(32775, QStringLiteral("履歴(&L)..."), commands_.history);
    menu_->addSeparator();
    AddCommand(57667, QStringLiteral("トピックスの検索(&H)"), commands_.helpTopics);
    AddCommand(57664, QStringLiteral("バージョン情報(&A)..."), commands_.about);
    menu_->addSeparator();
    AddCommand(32774, QStringLiteral("終了(&X)"), commands_.quit);
    connect(menu_.get(), &QMenu::aboutToShow, this, &CMainFrame::UpdateMenu);

    UpdateStatus();
    // The menu opens on the right button only; QSystemTrayIcon::activated
    // (left click, double click) is deliberately left unconnected.
    tray_->setContextMenu(menu_.get());
    UpdateMenu();
}

CMainFrame::~CMainFrame() {
    tray_->hide();  // take the icon out of the notification area
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const std::function<void()>& handler) {
    QAction* action = menu_->addAction(text);
    action->setObjectName(QStringLiteral("action%1").arg(id));
    action->setData(id);
    // Queued, so that the command runs after the menu has closed.
    connect(
        action, &QAction::triggered, this,
        [this, handler] {
            if (handler) handler();
            UpdateStatus();
        },
        Qt::QueuedConnection);
    return action;
}

bool CMainFrame::ShowIcon() {
    // Shown even without a notification area: Qt puts the icon there as
    // soon as one appears.
    tray_->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CMainFrame::UpdateStatus() {
    const bool running = commands_.watchRunning && commands_.watchRunning();
    if (shownRunning_ != static_cast<int>(running)) {
        shownRunning_ = running;
        tray_->setIcon(running ? AppIcon() : StoppedIcon());
    }
    tray_->setToolTip(QString::fromStdString(StatusTip(
        running, commands_.statuses ? commands_.statuses() : std::vector<engine::WatchStatus>{})));
}

void CMainFrame::UpdateMenu() {
    const bool running = commands_.watchRunning && commands_.watchRunning();
    const bool held = commands_.settingsOpen && commands_.settingsOpen();
    start_->setEnabled(!running && !held);
    stop_->setEnabled(running && !held);
}

}  // namespace tavren::app
